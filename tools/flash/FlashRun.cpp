#include "FlashRun.h"

#include "Class_copn.h"
#include "FlashOptions.h"
#include "FlashSession.h"
#include "ImageChecks.h"
#include "IntelHexFile.h"
#include "InterruptWatch.h"
#include "ProgramImage.h"
#include "ProgramSteps.h"
#include "ProgressLine.h"
#include "TerminalQuestions.h"
#include "UpdateReport.h"
#include "WindowSteps.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>

namespace {

constexpr std::uint8_t ApplicationSector = TForm_FW_Download::ApplicationSector;

// The file named on the command line, read through before any node is touched.
struct CheckedFile {
    std::string path;
    std::uint64_t bytes = 0; // from the image base to the highest address it writes
};

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

// The file's image header as the node would read it.
std::optional<SectorDescription> imageHeader(const std::string& path, std::uint32_t base) {
    TIntelHexFile file;
    if (!file.Open(path.c_str()))
        return std::nullopt;
    auto summary = SummariseHexImage(file, base);
    if (!summary)
        return std::nullopt;
    return summary->Header;
}

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
    void onInterrupt();
    std::ostream& err() { return *streams_.err; }
    std::ostream& out() { return *streams_.out; }

    FlashOptions options_;
    FlashStreams streams_;
    FlashObserver observer_;
    TerminalQuestions questions_;
    InterruptWatch interrupt_;
    WindowSteps* steps_ = nullptr;         // the window working on a node now
    ProgramSteps* programSteps_ = nullptr; // the program window working on a node now
    ProgressLine* progress_ = nullptr;     // its progress line
};

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

NodeOutcome Run::updateNode(FlashSession& session, std::uint8_t shown, const CheckedFile& file) {
    NodeOutcome outcome;
    outcome.node = shown;
    const std::uint8_t node = session.NodeShownAs(shown);
    outcome.sector = ApplicationSector;
    outcome.file = file.path;
    outcome.bytes = 0;
    const auto started = std::chrono::steady_clock::now();
    auto finish = [&](NodeOutcome::Result result, std::string message) {
        outcome.result = result;
        outcome.message = std::move(message);
        outcome.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return outcome;
    };
    const std::string label = "node " + std::to_string(shown);
    if (InterruptWatch::Interrupted())
        return finish(NodeOutcome::Failed, "not started: interrupted");
    outcome.before = session.Identity(node);
    if (!outcome.before)
        return finish(NodeOutcome::Failed, "node " + std::to_string(shown) + " is not online");
    outcome.image = imageHeader(file.path, ImageBaseOf(session.Downloader()));

    WindowSteps steps(session.Downloader(), node, questions_, options_.password);
    if (options_.skipIdentical && outcome.image &&
        steps.SectorHolds(ApplicationSector, *outcome.image)) {
        err() << label << ": skipped, sector " << unsigned(ApplicationSector)
              << " holds the file's image already\n";
        outcome.after = outcome.before;
        return finish(NodeOutcome::Skipped, "sector 2 holds " +
                                                NameAndRevisionText(*outcome.image) +
                                                " already, with a valid checksum");
    }
    ProgressLine progress(err(), streams_.errIsTerminal, label, file.bytes);
    steps.OnProgress = [&](const WindowSteps::Progress& p) {
        progress.Show(p.percent, p.verifying);
        if (observer_.progress)
            observer_.progress(shown, p.percent, p.verifying);
    };
    steps_ = &steps;
    progress_ = &progress;
    const bool done = steps.StandardUpdate(file.path);
    progress_ = nullptr;
    steps_ = nullptr;
    if (!done) {
        progress.End("failed");
        std::string why = steps.Cancelled() ? "interrupted: the download stopped, the checksum "
                                              "was not written"
                                            : questions_.LastText();
        if (why.empty())
            why = questions_.Declined() ? "stopped: a question was not answered Yes"
                                        : "the update did not finish";
        return finish(NodeOutcome::Failed, why);
    }
    outcome.bytes = file.bytes;
    progress.End("restarting");
    outcome.after = session.WaitForReturn(node);
    if (!outcome.after)
        return finish(NodeOutcome::Failed,
                      "the firmware was written, but the node did not come back within " +
                          std::to_string(FlashSession::RestartWaitMs / 1000) + " s");
    err() << label << ": updated, revision " << outcome.before->columns[4] << " -> "
          << outcome.after->columns[4] << "\n";
    return finish(NodeOutcome::Updated,
                  "Download Successful; the node runs revision " + outcome.after->columns[4]);
}

NodeOutcome Run::programNode(FlashSession& session, std::uint8_t shown, const ProgramImage& image) {
    NodeOutcome outcome;
    outcome.node = shown;
    outcome.program = options_.program;
    outcome.file = options_.file;
    outcome.crc = image.crc;
    const std::uint8_t node = session.NodeShownAs(shown);
    const auto started = std::chrono::steady_clock::now();
    auto finish = [&](NodeOutcome::Result result, std::string message) {
        outcome.result = result;
        outcome.message = std::move(message);
        outcome.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return outcome;
    };
    const std::string label = "node " + std::to_string(shown);
    const std::string program = "program " + std::to_string(options_.program);
    if (InterruptWatch::Interrupted())
        return finish(NodeOutcome::Failed, "not started: interrupted");
    outcome.before = session.Identity(node);
    if (!outcome.before)
        return finish(NodeOutcome::Failed, label + " is not online");
    auto* copn = dynamic_cast<TCOPN_Downloader*>(&session.Downloader());
    if (!copn || !copn->copnInterface)
        return finish(NodeOutcome::Failed, "the CANopen driver library is not loaded");
    ProgramSteps steps(*copn->copnInterface, node, questions_);
    if (!steps.IsStandardNode()) {
        err() << label
              << ": no standard program download (no 0x1F51, or it has the firmware "
                 "objects: use update)\n";
        return finish(NodeOutcome::Failed, "the node has no standard program download");
    }
    if (options_.skipIdentical) {
        const auto state = steps.Program(options_.program);
        if (state && state->identification == image.crc && (state->flashStatus & 0xFF) == 0) {
            err() << label << ": skipped, " << program << " holds the file already\n";
            outcome.after = outcome.before;
            return finish(NodeOutcome::Skipped, program + " holds the file already (software "
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
        return finish(NodeOutcome::Failed, why);
    }
    progress.End("done");
    outcome.bytes = result.bytes;
    outcome.transfer = result.wentAsBlock ? "block" : "segmented";
    outcome.after = session.Identity(node);
    err() << label << ": " << program << " written (" << outcome.transfer
          << " transfer) and started\n";
    return finish(NodeOutcome::Updated, result.message);
}

int Run::programs(FlashSession& session, const ProgramImage& image) {
    session.NodesOnline(options_.nodes);
    std::vector<NodeOutcome> outcomes;
    bool stopped = false;
    for (std::uint8_t node : options_.nodes) {
        if (stopped) {
            NodeOutcome skipped;
            skipped.node = node;
            skipped.program = options_.program;
            skipped.file = options_.file;
            skipped.crc = image.crc;
            skipped.message = "not started: an earlier node failed (--stop-on-error)";
            outcomes.push_back(skipped);
            continue;
        }
        outcomes.push_back(programNode(session, node, image));
        if (outcomes.back().result == NodeOutcome::Failed && options_.stopOnError)
            stopped = true;
    }
    const bool written = writeReport(outcomes);
    const bool allDone = std::all_of(outcomes.begin(), outcomes.end(), [](const NodeOutcome& o) {
        return o.result != NodeOutcome::Failed;
    });
    return allDone && written ? 0 : 1;
}

int Run::update(FlashSession& session, const CheckedFile& file) {
    session.NodesOnline(options_.nodes);
    std::vector<NodeOutcome> outcomes;
    bool stopped = false;
    for (std::uint8_t node : options_.nodes) {
        if (stopped) {
            NodeOutcome skipped;
            skipped.node = node;
            skipped.sector = ApplicationSector;
            skipped.file = file.path;
            skipped.message = "not started: an earlier node failed (--stop-on-error)";
            outcomes.push_back(skipped);
            continue;
        }
        outcomes.push_back(updateNode(session, node, file));
        if (outcomes.back().result == NodeOutcome::Failed && options_.stopOnError)
            stopped = true;
    }
    const bool written = writeReport(outcomes);
    const bool allDone = std::all_of(outcomes.begin(), outcomes.end(), [](const NodeOutcome& o) {
        return o.result != NodeOutcome::Failed;
    });
    return allDone && written ? 0 : 1;
}

// An update that could not start: every node failed for the same reason, none touched.
int Run::failEveryNode(const std::string& why) {
    if (options_.command == FlashCommand::Update || options_.command == FlashCommand::Program) {
        std::vector<NodeOutcome> outcomes;
        for (std::uint8_t node : options_.nodes) {
            NodeOutcome failed;
            failed.node = node;
            failed.file = options_.file;
            failed.message = why;
            if (options_.command == FlashCommand::Program)
                failed.program = options_.program;
            else
                failed.sector = ApplicationSector;
            outcomes.push_back(failed);
        }
        writeReport(outcomes);
    }
    return 1;
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

} // namespace

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
    Run run(options, streams, observer);
    return run.Go();
}
