// zandrel-flash program: standard program download into each node in turn, with the Program
// Download window's questions and its download.

#include "Class_copn.h"
#include "FlashRunner.h"
#include "ProgramDownload.h"
#include "TerminalFace.h"

namespace flashrun {

namespace {

// The program runs the file: started, no flash error and, when the identification is to be
// compared, the file's. Empty when it does; else what the node tells instead.
std::string programRunsInstead(TProgramDownload& download, std::uint8_t program, std::uint32_t crc,
                               bool expectCrc) {
    TProgramDownload::Program state;
    if (!download.ReadProgram(program, &state))
        return "the node does not tell the program's state: " + download.LastMessage();
    if (state.control != TProgramDownload::Start)
        return "the program is " + ProgramControlName(state.control) + ", not started";
    if (FlashErrorCode(state.flashStatus) != 0)
        return "the node reports " + FlashStatusName(state.flashStatus);
    if (expectCrc && state.identification != crc)
        return "the node identifies the program as " + Hex32Text(state.identification) +
               ", not as the file's CRC " + Hex32Text(crc);
    return {};
}

} // namespace

NodeOutcome Run::programNode(FlashSession& session, std::uint8_t shown, const ProgramImage& image) {
    NodeWork work = beginNode(session, shown);
    if (work.ended)
        return *work.ended;
    NodeOutcome& outcome = work.outcome;
    const std::uint8_t node = work.node;
    const std::string& label = work.label;
    const std::uint8_t p = options_.program;
    const std::string program = "program " + std::to_string(p);
    outcome.before = session.Identity(node);
    auto* copn = dynamic_cast<TCOPN_Downloader*>(&session.Downloader());
    if (!copn || !copn->copnInterface)
        return failNode(work, "the CANopen driver library is not loaded");
    TProgramDownload download(*copn->copnInterface, node);
    if (!download.IsStandardNode())
        return failNode(work, label + " has no standard program download (no 0x1F51, or it has "
                                      "the firmware objects): use zandrel-flash update");
    std::uint8_t count = 0;
    if (!download.ProgramCount(&count))
        return failNode(
            work, label + " does not tell how many programs it has: " + download.LastMessage());
    if (p > count)
        return failNode(work, label + " has no " + program + " (it has " + std::to_string(count) +
                                  (count == 1 ? " program)" : " programs)"));

    TerminalFace terminal = face(session);
    TProgramDownload::Program state;
    const bool read = download.ReadProgram(p, &state);
    const bool held = read && state.Holds(image.crc);
    // Only a program that runs the file is left alone; one that holds it stopped is started.
    if (options_.skipIdentical && read && state.Runs(image.crc)) {
        err() << label << ": skipped, " << program << " runs the file already\n";
        outcome.after = outcome.before;
        outcome.verified = true;
        return work.Finish(NodeOutcome::Skipped,
                           program + " runs the file already (started, software identification "
                                     "equals its CRC)");
    }
    if (options_.skipIdentical && held) {
        questions_.Forget();
        UpdateQuestion question{MessageBoxKind::Application,
                                ProgramStartHeldText(p, image.crc),
                                "Caution",
                                MB_YESNO | MB_ICONQUESTION,
                                QuestionKind::Routine,
                                "start " + program};
        if (terminal.Ask(question) != IDYES)
            return failNode(work,
                            "stopped: the question to start " + program + " was not answered Yes");
        if (!download.StartHeld(p))
            return failNode(work, download.LastMessage());
        outcome.verified = true;
        outcome.after = session.Identity(node);
        err() << label << ": " << program << " held the file, stopped; started\n";
        return work.Finish(NodeOutcome::Started,
                           program + " held the file (software identification equals its "
                                     "CRC), stopped: started, not written again");
    }
    questions_.Forget();
    auto ask = [&](const std::string& text, const char* caption, unsigned flags,
                   const std::string& about) {
        UpdateQuestion question{MessageBoxKind::Application, text, caption, flags,
                                QuestionKind::Routine,       about};
        return terminal.Ask(question) == IDYES ? std::optional<std::string>()
                                               : std::optional<std::string>(about);
    };
    std::optional<std::string> declined;
    if (held)
        declined =
            ask(ProgramAlreadyHeldText(p, image.crc), "Caution",
                MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, "download " + program + " again");
    if (!declined)
        declined = ask(ProgramStopText(node, p, image.bytes.size()), "Warning",
                       MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2, "stop and erase " + program);
    if (declined)
        return failNode(work, "stopped: the question to " + *declined + " was not answered Yes");

    ProgressLine progress(err(), streams_.errIsTerminal, label, image.bytes.size());
    progress_ = &progress;
    TProgramDownload::Options how;
    how.expectCrc = options_.expectCrc;
    const TProgramDownload::Outcome result = download.Download(
        p, image,
        [&](std::uint32_t done, std::uint32_t total) {
            const int percent = total ? static_cast<int>(100ull * done / total) : 0;
            progress.Show(percent, false);
            if (observer_.progress)
                observer_.progress(shown, percent, false);
            return !InterruptWatch::Interrupted();
        },
        how);
    outcome.attempts = static_cast<unsigned>(result.attempts);
    progress_ = nullptr;
    if (result.result != TProgramDownload::Result::Done) {
        progress.Break();
        std::string why = result.result == TProgramDownload::Result::Cancelled
                              ? "interrupted: " + result.message
                              : result.message;
        if (why.empty())
            why = "the program download did not finish";
        return failNode(work, why);
    }
    progress.End("done");
    // Updated means running: the node's word, not what was sent.
    if (const std::string instead = programRunsInstead(download, p, image.crc, options_.expectCrc);
        !instead.empty())
        return failNode(work, "the program was written, but " + instead);
    outcome.bytes = result.bytes;
    outcome.transfer = result.wentAsBlock ? "block" : "segmented";
    outcome.verified = result.verified;
    outcome.after = session.Identity(node);
    const std::string verdict =
        result.verified ? std::string("verified by identification")
                        : "written, " + NotVerifiedText(result.identification, image.crc);
    err() << label << ": " << program << " written (" << outcome.transfer
          << " transfer) and started, " << verdict << "\n";
    return work.Finish(NodeOutcome::Updated, result.verified
                                                 ? result.message
                                                 : "Program Download Successful: " + verdict);
}

int Run::programs(FlashSession& session, const ProgramImage& image) {
    session.NodesOnline(options_.nodes);
    return eachNode([&](std::uint8_t node) { return programNode(session, node, image); });
}

} // namespace flashrun
