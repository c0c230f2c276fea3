// zandrel-flash program: standard program download into each node in turn, through the
// Program Download window's own steps.

#include "Class_copn.h"
#include "FlashRunner.h"
#include "ProgramSteps.h"

#include <algorithm>

namespace flashrun {

NodeOutcome Run::programNode(FlashSession& session, std::uint8_t shown, const ProgramImage& image) {
    NodeWork work = beginNode(session, shown);
    if (work.ended)
        return *work.ended;
    NodeOutcome& outcome = work.outcome;
    const std::uint8_t node = work.node;
    const std::string& label = work.label;
    const std::string program = "program " + std::to_string(options_.program);
    auto* copn = dynamic_cast<TCOPN_Downloader*>(&session.Downloader());
    if (!copn || !copn->copnInterface)
        return work.Finish(NodeOutcome::Failed, "the CANopen driver library is not loaded");
    ProgramSteps steps(*copn->copnInterface, node, questions_);
    if (!steps.IsStandardNode()) {
        err() << label
              << ": no standard program download (no 0x1F51, or it has the firmware "
                 "objects: use update)\n";
        return work.Finish(NodeOutcome::Failed, "the node has no standard program download");
    }
    if (options_.skipIdentical) {
        const auto state = steps.Program(options_.program);
        if (state && state->identification == image.crc && (state->flashStatus & 0xFF) == 0) {
            err() << label << ": skipped, " << program << " holds the file already\n";
            outcome.after = outcome.before;
            return work.Finish(NodeOutcome::Skipped, program + " holds the file already (software "
                                                               "identification equals its CRC)");
        }
    }
    ProgressLine progress(err(), streams_.errIsTerminal, label, image.bytes.size());
    steps.OnProgress = [&](std::uint32_t done, std::uint32_t total) {
        const int percent = total ? static_cast<int>(100ull * done / total) : 0;
        progress.Show(percent, false);
        if (observer_.progress)
            observer_.progress(shown, percent, false);
    };
    programSteps_ = &steps;
    progress_ = &progress;
    const TProgramDownload::Outcome result = steps.Download(options_.program, options_.file);
    progress_ = nullptr;
    programSteps_ = nullptr;
    if (result.result != TProgramDownload::Result::Done) {
        progress.End("failed");
        std::string why = result.result == TProgramDownload::Result::Cancelled
                              ? "interrupted: " + result.message
                              : result.message;
        if (why.empty())
            why = questions_.Declined() ? "stopped: a question was not answered Yes"
                                        : "the program download did not finish";
        return work.Finish(NodeOutcome::Failed, why);
    }
    progress.End("done");
    outcome.bytes = result.bytes;
    outcome.transfer = result.wentAsBlock ? "block" : "segmented";
    outcome.after = session.Identity(node);
    err() << label << ": " << program << " written (" << outcome.transfer
          << " transfer) and started\n";
    return work.Finish(NodeOutcome::Updated, result.message);
}

int Run::programs(FlashSession& session, const ProgramImage& image) {
    session.NodesOnline(options_.nodes);
    return eachNode([&](std::uint8_t node) { return programNode(session, node, image); });
}

} // namespace flashrun
