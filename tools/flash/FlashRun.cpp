#include "FlashRunner.h"
#include "ImageChecks.h"
#include "IntelHexFile.h"
#include "ProgramSteps.h"
#include "WindowSteps.h"

#include <algorithm>
#include <fstream>

namespace flashrun {

std::optional<CheckedFile> checkFile(const std::string& path, std::string* why) {
    TIntelHexFile file;
    if (!file.Open(path.c_str())) {
        *why = path + ": the file cannot be opened";
        return std::nullopt;
    }
    std::optional<HexImageSummary> summary;
    if (HexFileHoldsValidImage(file))
        summary = SummariseHexImage(file, 0);
    if (!summary) {
        *why = path + ": not a sound Intel HEX file to its end record";
        return std::nullopt;
    }
    return CheckedFile{path, summary->Extent};
}

namespace {

void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (widths.size() <= c)
                widths.push_back(0);
            widths[c] = std::max(widths[c], row[c].size());
        }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out << line << "\n";
    }
}

} // namespace

void Run::onInterrupt() {
    if (progress_)
        progress_->Break();
    err() << "\nInterrupted: stopping at the next block.\n" << std::flush;
    questions_.Interrupt();
    if (steps_)
        steps_->Cancel();
    if (programSteps_)
        programSteps_->Cancel();
}

int Run::Go() {
    std::optional<CheckedFile> file;
    if (options_.command == FlashCommand::Update || options_.command == FlashCommand::Write) {
        std::string why;
        file = checkFile(options_.file, &why);
        if (!file) {
            // Nothing has been asked of any node.
            err() << "Download Error\n" << why << "\n";
            return failEveryNode("Download Error: " + why);
        }
    }
    ProgramImage image;
    if (options_.command == FlashCommand::Program) {
        std::string why;
        if (!ReadProgramImage(options_.file, &image, &why)) {
            err() << "Download Error\n" << why << "\n";
            return failEveryNode("Download Error: " + why);
        }
        programCrc_ = image.crc;
    }
    FlashSession session(options_);
    struct Watching {
        const FlashObserver& observer;
        ~Watching() {
            if (observer.downloader)
                observer.downloader(nullptr);
        }
    } watching{observer_};
    if (observer_.downloader)
        observer_.downloader(&session.Downloader());
    std::string error;
    if (!session.Open(&error)) {
        err() << "zandrel-flash: " << error << "\n";
        return failEveryNode("the network could not be reached: " + error);
    }
    switch (options_.command) {
    case FlashCommand::List:
        return list(session);
    case FlashCommand::Sectors:
        return sectors(session);
    case FlashCommand::Update:
        return update(session, *file);
    case FlashCommand::Program:
        return programs(session, image);
    default:
        return sectorCommand(session, file);
    }
}

int Run::list(FlashSession& session) {
    const auto rows = session.NodesOnline();
    if (options_.json)
        return writeJson("", [&](std::ostream& json) { WriteJsonNodeList(json, rows); }) ? 0 : 1;
    std::vector<std::vector<std::string>> table;
    const auto headers = NodeListHeaders(options_.bus);
    table.emplace_back(headers.begin(), headers.end());
    for (const auto& row : rows)
        table.emplace_back(row.columns.begin(), row.columns.end());
    printTable(out(), table);
    if (rows.empty())
        err() << "No node online.\n";
    return 0;
}

// The one node of a command, once the network has shown it; nothing when it is not online.
std::optional<std::uint8_t> Run::onlineNode(FlashSession& session) {
    session.NodesOnline(options_.nodes);
    const std::uint8_t node = session.NodeShownAs(options_.nodes.front());
    if (!session.IsOnline(node)) {
        err() << "zandrel-flash: node " << unsigned(options_.nodes.front()) << " is not online\n";
        return std::nullopt;
    }
    return node;
}

int Run::sectors(FlashSession& session) {
    const auto node = onlineNode(session);
    if (!node)
        return 1;
    WindowSteps steps(session.Downloader(), *node, questions_, options_.password);
    const auto table = steps.SectorTable();
    if (table.empty())
        return 1;
    printTable(out(), table);
    return 0;
}

int Run::sectorCommand(FlashSession& session, const std::optional<CheckedFile>& file) {
    const auto node = onlineNode(session);
    if (!node)
        return 1;
    WindowSteps steps(session.Downloader(), *node, questions_, options_.password);
    steps_ = &steps;
    const std::uint8_t sector = options_.sector.value_or(0);
    bool done = false;
    switch (options_.command) {
    case FlashCommand::Erase:
        done = steps.Erase(sector);
        break;
    case FlashCommand::Write: {
        ProgressLine progress(err(), streams_.errIsTerminal,
                              "node " + std::to_string(options_.nodes.front()),
                              file ? file->bytes : 0);
        steps.OnProgress = [&](const WindowSteps::Progress& p) {
            progress.Show(p.percent, p.verifying);
            if (observer_.progress)
                observer_.progress(options_.nodes.front(), p.percent, p.verifying);
        };
        progress_ = &progress;
        done = steps.Write(sector, options_.file);
        progress_ = nullptr;
        break;
    }
    case FlashCommand::Boot:
        done = steps.MakeBoot(sector);
        break;
    case FlashCommand::Execute:
        done = steps.Execute(sector);
        break;
    case FlashCommand::Reset:
        done = steps.Reset();
        break;
    default:
        break;
    }
    steps_ = nullptr;
    return done ? 0 : 1;
}

// An update that could not start: every node failed for the same reason, none touched.
int Run::failEveryNode(const std::string& why) {
    if (options_.command == FlashCommand::Update || options_.command == FlashCommand::Program) {
        std::vector<NodeOutcome> outcomes;
        for (std::uint8_t node : options_.nodes) {
            outcomes.push_back(outcomeFor(node));
            outcomes.back().message = why;
        }
        writeReport(outcomes);
    }
    return 1;
}

NodeOutcome Run::outcomeFor(std::uint8_t node) const {
    NodeOutcome outcome;
    outcome.node = node;
    outcome.file = options_.file;
    if (options_.command == FlashCommand::Program) {
        outcome.program = options_.program;
        outcome.crc = programCrc_;
    } else {
        outcome.sector = ApplicationSector;
    }
    return outcome;
}

NodeWork Run::beginNode(FlashSession& session, std::uint8_t shown) {
    NodeWork work;
    work.outcome = outcomeFor(shown);
    work.node = session.NodeShownAs(shown);
    work.label = "node " + std::to_string(shown);
    if (InterruptWatch::Interrupted()) {
        work.ended = work.Finish(NodeOutcome::Failed, "not started: interrupted");
        return work;
    }
    work.outcome.before = session.Identity(work.node);
    if (!work.outcome.before)
        work.ended = work.Finish(NodeOutcome::Failed, work.label + " is not online");
    return work;
}

int Run::eachNode(const std::function<NodeOutcome(std::uint8_t node)>& one) {
    std::vector<NodeOutcome> outcomes;
    bool stopped = false;
    for (std::uint8_t node : options_.nodes) {
        if (stopped) {
            outcomes.push_back(outcomeFor(node));
            outcomes.back().message = "not started: an earlier node failed (--stop-on-error)";
            continue;
        }
        outcomes.push_back(one(node));
        if (outcomes.back().result == NodeOutcome::Failed && options_.stopOnError)
            stopped = true;
    }
    const bool written = writeReport(outcomes);
    const bool allDone = std::all_of(outcomes.begin(), outcomes.end(), [](const NodeOutcome& o) {
        return o.result != NodeOutcome::Failed;
    });
    return allDone && written ? 0 : 1;
}

bool Run::writeReport(const std::vector<NodeOutcome>& outcomes) {
    return !options_.json ||
           writeJson("the report ", [&](std::ostream& json) { WriteJsonReport(json, outcomes); });
}

// To the file --json names, or to standard output for "-"; false when the file cannot be
// written.
bool Run::writeJson(const char* what, const std::function<void(std::ostream&)>& write) {
    if (*options_.json == "-") {
        write(out());
        return true;
    }
    std::ofstream file(*options_.json);
    write(file);
    if (!file.flush()) {
        err() << "zandrel-flash: cannot write " << what << *options_.json << "\n";
        return false;
    }
    return true;
}

} // namespace flashrun

int RunFlash(const std::vector<std::string>& arguments, const FlashStreams& streams,
             const FlashObserver& observer) {
    const ParsedOptions parsed = ParseFlashOptions(arguments);
    if (!parsed.options) {
        *streams.err << "zandrel-flash: " << parsed.error << "\n"
                     << "Try 'zandrel-flash --help'.\n";
        return 2;
    }
    const FlashOptions& options = *parsed.options;
    if (options.help) {
        *streams.out << FlashUsage;
        return 0;
    }
    if (!options.yes && !streams.in) {
        *streams.err << "zandrel-flash: no terminal to ask the safety questions on: give --yes "
                        "to answer them Yes\n";
        return 2;
    }
    if (options.json && options.command != FlashCommand::List &&
        options.command != FlashCommand::Update && options.command != FlashCommand::Program) {
        *streams.err << "zandrel-flash: --json is for list, update and program\n"
                     << "Try 'zandrel-flash --help'.\n";
        return 2;
    }
    flashrun::Run run(options, streams, observer);
    return run.Go();
}
