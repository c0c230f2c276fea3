// zandrel-flash update: the standard update of each node in turn, through the download
// window's own sequence.

#include "FlashRunner.h"
#include "ImageChecks.h"
#include "IntelHexFile.h"
#include "WindowSteps.h"

#include <algorithm>

namespace flashrun {

namespace {

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

} // namespace

NodeOutcome Run::updateNode(FlashSession& session, std::uint8_t shown, const CheckedFile& file) {
    NodeWork work = beginNode(session, shown);
    if (work.ended)
        return *work.ended;
    NodeOutcome& outcome = work.outcome;
    const std::uint8_t node = work.node;
    const std::string& label = work.label;
    outcome.image = imageHeader(file.path, ImageBaseOf(session.Downloader()));

    WindowSteps steps(session.Downloader(), node, questions_, options_.password);
    if (options_.skipIdentical && outcome.image &&
        steps.SectorHolds(ApplicationSector, *outcome.image)) {
        err() << label << ": skipped, sector " << unsigned(ApplicationSector)
              << " holds the file's image already\n";
        outcome.after = outcome.before;
        return work.Finish(NodeOutcome::Skipped, "sector 2 holds " +
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
        return work.Finish(NodeOutcome::Failed, why);
    }
    outcome.bytes = file.bytes;
    progress.End("restarting");
    outcome.after = session.WaitForReturn(node);
    if (!outcome.after)
        return work.Finish(NodeOutcome::Failed,
                           "the firmware was written, but the node did not come back within " +
                               std::to_string(FlashSession::RestartWaitMs / 1000) + " s");
    err() << label << ": updated, revision " << outcome.before->columns[4] << " -> "
          << outcome.after->columns[4] << "\n";
    return work.Finish(NodeOutcome::Updated,
                       "Download Successful; the node runs revision " + outcome.after->columns[4]);
}

int Run::update(FlashSession& session, const CheckedFile& file) {
    session.NodesOnline(options_.nodes);
    return eachNode([&](std::uint8_t node) { return updateNode(session, node, file); });
}

} // namespace flashrun
