#pragma once

// The run of one zandrel-flash command line, shared by the files that carry out its commands:
// FlashRun.cpp (the run, the list and the single-node commands), UpdateRun.cpp (update) and
// ProgramRun.cpp (program).

#include "FlashOptions.h"
#include "FlashRun.h"
#include "FlashSession.h"
#include "InterruptWatch.h"
#include "ProgramImage.h"
#include "ProgressLine.h"
#include "SectorDescription.h"
#include "TerminalQuestions.h"
#include "UpdateProcedures.h"
#include "UpdateReport.h"

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class TerminalFace;

namespace flashrun {

constexpr std::uint8_t ApplicationSector = UpdateProcedures::ApplicationSector;

// The file named on the command line, read through before any node is touched.
struct CheckedFile {
    std::string path;
    std::uint64_t bytes = 0; // from the image base to the highest address it writes
};

// The file, read through as a download would; nothing (and *why) when it is no sound HEX file.
std::optional<CheckedFile> checkFile(const std::string& path, std::string* why);

// The work on one node of update or program as it begins: the node's record, the node as the
// driver numbers it, its name in messages and when the work began.
struct NodeWork {
    NodeOutcome outcome;
    std::uint8_t node = 0;
    std::uint8_t shown = 0;
    std::string label;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    // Set when the work cannot begin (interrupted, or the node not online): the record, done.
    std::optional<NodeOutcome> ended;

    // The record with its result, message and seconds.
    NodeOutcome Finish(NodeOutcome::Result result, std::string message) {
        outcome.result = result;
        outcome.message = std::move(message);
        outcome.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return outcome;
    }
};

class Run {
public:
    Run(const FlashOptions& options, const FlashStreams& streams, const FlashObserver& observer)
        : options_(options), streams_(streams), observer_(observer),
          questions_(options.yes, {streams.in, streams.err}),
          interrupt_([this] { onInterrupt(); }) {
        questions_.BeforeOutput = [this] {
            if (progress_)
                progress_->Break();
        };
    }

    int Go();

private:
    int list(FlashSession& session);
    std::optional<std::uint8_t> onlineNode(FlashSession& session);
    int sectors(FlashSession& session);
    int update(FlashSession& session, const CheckedFile& file);
    int sectorCommand(FlashSession& session, const std::optional<CheckedFile>& file);
    int programs(FlashSession& session, const ProgramImage& image);
    NodeOutcome programNode(FlashSession& session, std::uint8_t node, const ProgramImage& image);
    NodeOutcome updateNode(FlashSession& session, std::uint8_t node, const CheckedFile& file);
    bool writeReport(const std::vector<NodeOutcome>& outcomes);
    bool writeJson(const char* what, const std::function<void(std::ostream&)>& write);
    int failEveryNode(const std::string& why);
    // The record of a node for this command before anything is done: its node, the file, and
    // sector 2 (update) or the program (program).
    NodeOutcome outcomeFor(std::uint8_t node) const;
    NodeWork beginNode(FlashSession& session, std::uint8_t shown);
    // one() for each node in turn; once one failed with --stop-on-error, the others are
    // reported not started. Writes the report; 0 when every node was updated or skipped.
    int eachNode(const std::function<NodeOutcome(std::uint8_t node)>& one);
    // The node's identity as it was before the work: a node found in download mode with the
    // firmware its boot sector holds.
    std::optional<NodeIdentityRow> nodeAsItWas(FlashSession& session, std::uint8_t node,
                                               UpdateProcedures& procedures);
    std::string whatItRunsInstead(FlashSession& session, std::uint8_t node,
                                  const SectorDescription& image, const NodeIdentityRow& identity);
    // Why a procedure stopped, in words for the user of this tool.
    std::string reasonOf(const ProcedureResult& result, std::uint8_t shown,
                         const TerminalFace& face) const;
    // A node failed: the reason on standard error, and the record.
    NodeOutcome failNode(NodeWork& work, const std::string& why);
    TerminalFace face(FlashSession& session);
    void onInterrupt();
    std::ostream& err() { return *streams_.err; }
    std::ostream& out() { return *streams_.out; }

    FlashOptions options_;
    FlashStreams streams_;
    FlashObserver observer_;
    TerminalQuestions questions_;
    InterruptWatch interrupt_;
    std::optional<std::uint32_t> programCrc_; // program: the file's CRC-32, once read
    ProgressLine* progress_ = nullptr;        // the progress line of the download under way
};

} // namespace flashrun
