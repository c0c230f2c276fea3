// zandrel-flash update: the standard update of each node in turn, through the update
// procedures the download window runs.

#include "Class_copn.h"
#include "FlashRunner.h"
#include "ImageChecks.h"
#include "IntelHexFile.h"
#include "ProgramDownload.h"
#include "SectorTableText.h"
#include "TerminalFace.h"

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

// A CANopen node of standard program download, which takes no firmware image.
bool takesProgramDownload(TFirmware_Downloader& downloader, std::uint8_t node) {
    auto* copn = dynamic_cast<TCOPN_Downloader*>(&downloader);
    return copn && copn->copnInterface &&
           TProgramDownload(*copn->copnInterface, node).IsStandardNode();
}

// Sector holds the image, and the node confirms its checksum.
bool sectorHolds(const SectorTable& table, std::uint8_t sector, const SectorDescription& header) {
    if (!table.Holds(sector) || !table.ChecksumConfirmed[sector])
        return false;
    const SectorDescription& held = table.Sectors[sector];
    return held.NameText() == header.NameText() &&
           held.DescriptionText() == header.DescriptionText() &&
           held.BuildDateText() == header.BuildDateText() &&
           held.BuildTimeText() == header.BuildTimeText() && held.Revision == header.Revision;
}

} // namespace

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

    if (options_.skipIdentical && outcome.image && procedures.RetrieveSectorTable() &&
        sectorHolds(procedures.Table(), ApplicationSector, *outcome.image)) {
        err() << label << ": skipped, sector " << unsigned(ApplicationSector)
              << " holds the file's image already\n";
        outcome.after = outcome.before;
        return work.Finish(NodeOutcome::Skipped, "sector 2 holds " +
                                                     NameAndRevisionText(*outcome.image) +
                                                     " already, with a valid checksum");
    }
    ProgressLine progress(err(), streams_.errIsTerminal, label, file.bytes);
    terminal.SetFile(file.path);
    terminal.OnProgress = [&](int percent, bool verifying) {
        progress.Show(percent, verifying);
        if (observer_.progress)
            observer_.progress(shown, percent, verifying);
    };
    questions_.Forget();
    progress_ = &progress;
    const ProcedureResult result = procedures.StandardUpdate();
    progress_ = nullptr;
    if (!result.Ok()) {
        progress.Break();
        return failNode(work, reasonOf(result, shown, terminal));
    }
    outcome.bytes = file.bytes;
    progress.End("restarting");
    outcome.after = session.WaitForReturn(node);
    if (!outcome.after)
        return failNode(work, "the firmware was written, but the node did not come back within " +
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
