// zandrel-flash program: standard program download into each node in turn, through the
// Program Download window's own steps.

#include "Class_copn.h"
#include "FlashRunner.h"
#include "ProgramSteps.h"

#include <algorithm>
#include <chrono>

namespace flashrun {

NodeOutcome Run::programNode(FlashSession& session, std::uint8_t shown, const ProgramImage& image) {
    NodeOutcome outcome = outcomeFor(shown);
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
    return eachNode([&](std::uint8_t node) { return programNode(session, node, image); });
}

} // namespace flashrun
