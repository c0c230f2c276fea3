#include "FlashRunner.h"
#include "ImageChecks.h"
#include "InputFileFault.h"
#include "IntelHexFile.h"
#include "SectorTableText.h"
#include "TerminalFace.h"

#include <algorithm>
#include <fstream>

namespace flashrun {

std::optional<CheckedFile> checkFile(const std::string& path, std::string* why) {
    if (auto fault = HexFileFault(path, [] { return InterruptWatch::Interrupted(); })) {
        *why = *fault;
        return std::nullopt;
    }
    TIntelHexFile file;
    std::optional<HexImageSummary> summary;
    if (file.Open(path.c_str()))
        summary = SummariseHexImage(file, 0);
    if (!summary) {
        *why = path + ": the file changed while it was read";
        return std::nullopt;
    }
    if (summary->Conflict) {
        char address[16];
        std::snprintf(address, sizeof address, "%06llX",
                      static_cast<unsigned long long>(*summary->Conflict));
        *why = path + ": records write address " + address + " twice, with different bytes";
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
}

TerminalFace Run::face(FlashSession& session) {
    return TerminalFace(session.Downloader(), questions_, options_.force, options_.password);
}

std::string Run::reasonOf(const ProcedureResult& result, std::uint8_t shown,
                          const TerminalFace& face) const {
    const std::string node = "node " + std::to_string(shown);
    std::string why;
    if (result.passwordRefused) {
        why = face.PasswordGiven()
                  ? node + " did not accept the download-mode password (Password Not Accepted)"
                  : node + " needs its download-mode password: give --password";
    } else if (result.status == ProcedureResult::Declined &&
               result.declined.kind == QuestionKind::ImageCheck) {
        why = "refused: " + result.declined.about + "; give --force to go on anyway";
    } else if (result.status == ProcedureResult::Declined) {
        why = "stopped: the question to " + result.declined.about + " was not answered Yes";
    } else if (InterruptWatch::Interrupted()) {
        why = "interrupted: " + (result.reason.empty() ? "stopped" : result.reason);
    } else {
        why = result.reason;
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r'))
            why.pop_back();
        for (std::size_t at; (at = why.find("\r\n")) != std::string::npos;)
            why.replace(at, 2, " ");
        if (why.empty())
            why = "the work on the node did not finish";
    }
    if (result.node == ProcedureResult::NodeState::DownloadMode)
        why += "; " + node +
               " is left in download mode: restart it with zandrel-flash reset --bus " +
               BusWord(options_.bus) + " --node " + std::to_string(shown);
    return why;
}

int Run::Go() {
    std::optional<CheckedFile> file;
    if (options_.command == FlashCommand::Update || options_.command == FlashCommand::Write) {
        std::string why;
        file = checkFile(options_.file, &why);
        if (!file) {
            // Nothing has been asked of any node.
            err() << "zandrel-flash: " << why << "\n";
            return failEveryNode(why);
        }
    }
    ProgramImage image;
    if (options_.command == FlashCommand::Program) {
        std::string why;
        if (!ReadProgramImage(options_.file, &image, &why)) {
            err() << "zandrel-flash: " << why << "\n";
            return failEveryNode(why);
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
    questions_.Forget();
    if (!session.Open(&error)) {
        const std::string why = questions_.Declined()
                                    ? "the network search was not answered Yes: nothing was done"
                                    : "the network could not be reached: " + error;
        err() << "zandrel-flash: " << why << "\n";
        return failEveryNode(why);
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
    const std::uint8_t shown = options_.nodes.front();
    TerminalFace terminal = face(session);
    UpdateProcedures procedures(&session.Downloader(), terminal);
    session.Downloader().Node = *node;
    const ProcedureResult read = procedures.RetrieveConfiguration();
    if (!read.Ok()) {
        err() << "node " << unsigned(shown) << ": failed: " << reasonOf(read, shown, terminal)
              << "\n";
        return 1;
    }
    const SectorTable& table = procedures.Table();
    std::vector<std::vector<std::string>> rows;
    rows.emplace_back(SectorHeaderTexts, SectorHeaderTexts + SectorColumnCount);
    for (int s = 0; s < table.Count; ++s) {
        if (!table.Read[s]) {
            std::vector<std::string> row(SectorColumnCount, "Error");
            row[0] = std::to_string(s);
            rows.push_back(row);
            continue;
        }
        const SectorRowTexts row = SectorRowOf(table, s);
        rows.emplace_back(row.begin(), row.end());
    }
    printTable(out(), rows);
    err() << "node " << unsigned(shown) << " is in download mode: zandrel-flash reset --bus "
          << BusWord(options_.bus) << " --node " << unsigned(shown) << " restarts it\n";
    return 0;
}

int Run::sectorCommand(FlashSession& session, const std::optional<CheckedFile>& file) {
    const auto node = onlineNode(session);
    if (!node)
        return 1;
    const std::uint8_t shown = options_.nodes.front();
    const std::string label = "node " + std::to_string(shown);
    TerminalFace terminal = face(session);
    UpdateProcedures procedures(&session.Downloader(), terminal);
    session.Downloader().Node = *node;
    questions_.Forget();
    ProcedureResult result;
    if (options_.command == FlashCommand::Reset) {
        result = procedures.RebootNode();
    } else {
        result = procedures.RetrieveConfiguration();
        const std::uint8_t sector = options_.sector.value_or(0);
        if (result.Ok() && !procedures.Table().Holds(sector)) {
            result.status = ProcedureResult::Failed;
            result.reason = "the node has no sector " + std::to_string(sector) +
                            ", or its description could not be read";
        }
        if (result.Ok()) {
            switch (options_.command) {
            case FlashCommand::Erase:
                result = procedures.EraseSector(sector);
                break;
            case FlashCommand::Write: {
                ProgressLine progress(err(), streams_.errIsTerminal, label, file ? file->bytes : 0);
                terminal.SetFile(options_.file);
                terminal.OnProgress = [&](int percent, bool verifying) {
                    progress.Show(percent, verifying);
                    if (observer_.progress)
                        observer_.progress(shown, percent, verifying);
                };
                progress_ = &progress;
                result = procedures.UpgradeSector(sector);
                progress_ = nullptr;
                if (result.Ok())
                    progress.End("done");
                else
                    progress.Break();
                break;
            }
            case FlashCommand::Boot:
                result = procedures.MakeBootSector(sector);
                break;
            case FlashCommand::Execute:
                result = procedures.ExecuteSector(sector);
                break;
            default:
                break;
            }
        }
    }
    if (!result.Ok()) {
        err() << label << ": failed: " << reasonOf(result, shown, terminal) << "\n";
        return 1;
    }
    return 0;
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
    work.shown = shown;
    work.label = "node " + std::to_string(shown);
    if (InterruptWatch::Interrupted()) {
        work.ended = failNode(work, "not started: interrupted");
        return work;
    }
    if (!session.IsOnline(work.node))
        work.ended = failNode(work, work.label + " is not online");
    return work;
}

NodeOutcome Run::failNode(NodeWork& work, const std::string& why) {
    if (progress_)
        progress_->Break();
    err() << work.label << ": failed: " << why << "\n";
    return work.Finish(NodeOutcome::Failed, why);
}

std::optional<NodeIdentityRow> Run::nodeAsItWas(FlashSession& session, std::uint8_t node,
                                                UpdateProcedures& procedures) {
    auto row = session.Identity(node);
    if (!row)
        return row;
    TFirmware_Downloader& downloader = session.Downloader();
    downloader.Node = node;
    std::uint32_t inDownloadMode = 0;
    if (!downloader.IsInDownloadMode(&inDownloadMode) || !inDownloadMode)
        return row;
    // The loader runs: what the node runs once restarted is what its boot sector holds. The
    // product code the loader tells is not the application's, which cannot be asked now.
    row->inDownloadMode = true;
    row->columns[3].clear();
    if (procedures.RetrieveSectorTable()) {
        const SectorTable& table = procedures.Table();
        if (const SectorDescription* firmware = NodeFirmware(table.Sectors, table.Read, table.Count,
                                                             table.BootSector, ApplicationSector)) {
            row->columns[4] = SectorRevisionText(firmware->Revision);
            row->columns[6] = firmware->NameText();
        }
    }
    return row;
}

int Run::eachNode(const std::function<NodeOutcome(std::uint8_t node)>& one) {
    std::vector<NodeOutcome> outcomes;
    bool stopped = false;
    for (std::uint8_t node : options_.nodes) {
        if (stopped) {
            outcomes.push_back(outcomeFor(node));
            outcomes.back().message = "not started: an earlier node failed (--stop-on-error)";
            err() << "node " << unsigned(node) << ": " << outcomes.back().message << "\n";
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
