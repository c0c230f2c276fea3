// zandrel-flash update: the standard update of each node in turn, through the update
// procedures the download window runs.

#include "Class_copn.h"
#include "FlashRunner.h"
#include "ImageChecks.h"
#include "IntelHexFile.h"
#include "ProgramDownload.h"
#include "SectorTableText.h"
#include "TerminalFace.h"

#include <chrono>
#include <functional>
#include <thread>

namespace flashrun {

namespace {

// How long a node back from its restart is given to settle into the new firmware.
constexpr std::chrono::seconds SettleTime{10};
// How often an item of the sector table is asked for to tell what a node runs.
constexpr int ReadAttempts = 3;

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

// A CANopen node of standard program download, which takes no firmware image.
bool takesProgramDownload(TFirmware_Downloader& downloader, std::uint8_t node) {
    auto* copn = dynamic_cast<TCOPN_Downloader*>(&downloader);
    return copn && copn->copnInterface &&
           TProgramDownload(*copn->copnInterface, node).IsStandardNode();
}

// The texts as a node can tell them: a field of N bytes holds at most N - 1 characters and
// its ending zero, whatever the file's header wrote there.
bool sameText(const std::string& held, const std::string& file, std::size_t field) {
    return held.substr(0, field - 1) == file.substr(0, field - 1);
}

bool sameHeader(const SectorDescription& held, const SectorDescription& header) {
    return sameText(held.NameText(), header.NameText(), sizeof header.Name) &&
           sameText(held.DescriptionText(), header.DescriptionText(), sizeof header.Description) &&
           sameText(held.BuildDateText(), header.BuildDateText(), sizeof header.BuildDate) &&
           sameText(held.BuildTimeText(), header.BuildTimeText(), sizeof header.BuildTime) &&
           held.Revision == header.Revision;
}

// Sector holds the image, and the node confirms its checksum.
bool sectorHolds(const SectorTable& table, std::uint8_t sector, const SectorDescription& header) {
    return table.Holds(sector) && table.ChecksumConfirmed[sector] &&
           sameHeader(table.Sectors[sector], header);
}

} // namespace

// Whether the node runs the image: back in its application, sector 2 its boot sector holding
// the image with a checksum the node confirms, and the revision it reports the image's.
// Empty when it does; else what it runs, in words.
std::string Run::whatItRunsInstead(FlashSession& session, std::uint8_t node,
                                   const SectorDescription& image,
                                   const NodeIdentityRow& identity) {
    TFirmware_Downloader& downloader = session.Downloader();
    downloader.Node = node;
    std::uint32_t inDownloadMode = 0;
    if (downloader.IsInDownloadMode(&inDownloadMode) && inDownloadMode)
        return "the node is in download mode: it runs its loader";
    // Only what the answer needs is read, each item asked again when the node does not tell
    // it (a transfer that broke off on the bus fails with more than the time-out's code): on a
    // bus that loses frames a whole sector table is seldom read clean.
    const auto told = [](const std::function<std::int32_t()>& read) {
        for (int attempt = 0; attempt < ReadAttempts; ++attempt)
            if (read())
                return true;
        return false;
    };
    std::uint8_t boot = 0;
    if (!told([&] { return downloader.GetBootSector(&boot); }))
        return "the node does not tell its boot sector";
    if (boot != ApplicationSector) {
        SectorDescription booted{};
        const bool described = told([&] { return downloader.GetSectorDescription(boot, &booted); });
        return "the node boots sector " + std::to_string(boot) +
               (described && !booted.IsEmpty() ? " (" + NameAndRevisionText(booted) + ")"
                                               : std::string()) +
               ", not sector 2";
    }
    SectorDescription held{};
    if (!told([&] { return downloader.GetSectorDescription(ApplicationSector, &held); }))
        return "the node does not tell what sector 2 holds";
    std::uint32_t checksumOk = 0;
    if (held.IsEmpty() ||
        !told([&] { return downloader.ChecksumOk(ApplicationSector, &checksumOk); }) || !checksumOk)
        return "the node does not confirm the checksum of sector 2";
    if (!sameHeader(held, image))
        return "sector 2 holds " + NameAndRevisionText(held) + ", not the file's " +
               NameAndRevisionText(image);
    const std::string revision = SectorRevisionText(image.Revision);
    if (identity.columns[4] != revision)
        return "the node reports revision " +
               (identity.columns[4].empty() ? std::string("none") : identity.columns[4]) +
               ", not the file's " + revision;
    return {};
}

NodeOutcome Run::updateNode(FlashSession& session, std::uint8_t shown, const CheckedFile& file) {
    NodeWork work = beginNode(session, shown);
    if (work.ended)
        return *work.ended;
    NodeOutcome& outcome = work.outcome;
    const std::uint8_t node = work.node;
    const std::string& label = work.label;
    if (takesProgramDownload(session.Downloader(), node))
        return failNode(work, label + " takes program download: use zandrel-flash program");

    TerminalFace terminal = face(session);
    UpdateProcedures procedures(&session.Downloader(), terminal);
    outcome.before = nodeAsItWas(session, node, procedures);
    outcome.image = imageHeader(file.path, ImageBaseOf(session.Downloader()));
    session.Downloader().Node = node;
    if (!outcome.image)
        return failNode(work, file.path + ": the file changed while it was read");
    const SectorDescription& image = *outcome.image;

    // Only a node that runs the file is left alone; one that holds it in sector 2 with a
    // confirmed checksum but boots something else is given the rest of the update.
    bool holdsImage = false;
    if (options_.skipIdentical && outcome.before) {
        if (whatItRunsInstead(session, node, image, *outcome.before).empty()) {
            err() << label << ": skipped, it runs " << NameAndRevisionText(image) << " already\n";
            outcome.after = outcome.before;
            return work.Finish(NodeOutcome::Skipped,
                               "it runs " + NameAndRevisionText(image) +
                                   " already: sector 2 is its boot sector, with a valid checksum");
        }
        holdsImage = procedures.RetrieveSectorTable() &&
                     sectorHolds(procedures.Table(), ApplicationSector, image);
    }
    // The file is checked against the node before the node is stopped for it.
    if (!holdsImage) {
        questions_.Forget();
        if (ProcedureResult checked = procedures.CheckImageFirst(file.path); !checked.Ok())
            return failNode(work, reasonOf(checked, shown, terminal));
    }
    ProgressLine progress(err(), streams_.errIsTerminal, label, file.bytes);
    terminal.SetFile(file.path);
    terminal.OnProgress = [&](int percent, bool verifying) {
        progress.Show(percent, verifying);
        if (observer_.progress)
            observer_.progress(shown, percent, verifying);
    };
    ProcedureResult result;
    for (;;) {
        ++outcome.attempts;
        questions_.Forget();
        progress_ = &progress;
        result = holdsImage              ? procedures.BootApplicationSector()
                 : outcome.attempts == 1 ? procedures.StandardUpdate()
                                         : procedures.RepeatStandardUpdate();
        progress_ = nullptr;
        if (result.Ok() || !result.busFault || outcome.attempts > options_.retries ||
            InterruptWatch::Interrupted())
            break;
        progress.Break();
        err() << label << ": attempt " << outcome.attempts << " failed ("
              << reasonOf(result, shown, terminal) << "); again from the erase\n";
        holdsImage = false;
    }
    if (!result.Ok()) {
        progress.Break();
        return failNode(work, reasonOf(result, shown, terminal));
    }
    outcome.bytes = holdsImage ? 0 : file.bytes;
    progress.End("restarting");
    outcome.after = session.WaitForReturn(node);
    if (!outcome.after)
        return failNode(work, "the firmware was written, but the node did not come back within " +
                                  std::to_string(FlashSession::RestartWaitMs / 1000) + " s");
    // Updated means running: the node's word, not what was sent. A node seen again may still
    // be on its way into the new firmware (a reset held up on the bus, a restart that takes
    // its time): it is asked again until it settles, for a while.
    std::string instead = whatItRunsInstead(session, node, image, *outcome.after);
    const auto settleBy = std::chrono::steady_clock::now() + SettleTime;
    while (!instead.empty() && std::chrono::steady_clock::now() < settleBy &&
           !InterruptWatch::Interrupted()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(FlashSession::PollPeriodMs * 5));
        if (auto again = session.WaitForReturn(node)) {
            outcome.after = again;
            instead = whatItRunsInstead(session, node, image, *outcome.after);
        }
    }
    if (!instead.empty())
        return failNode(work, "the node does not run the file: " + instead);
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
