#pragma once

#include "Firmware_Downloader.h"
#include "ImageChecks.h"
#include "SectorTable.h"
#include "UpdateFace.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TIntelHexFile;

// What an update procedure did, the node's state afterwards, and why it stopped.
struct ProcedureResult {
    enum Status { Done, Failed, Declined, Cancelled };
    enum class NodeState { Unknown, DownloadMode, Restarted };

    Status status = Failed;
    NodeState node = NodeState::Unknown;
    // Words for the user when the procedure did not finish: the text it told, or the
    // question that was not answered Yes.
    std::string reason;
    // The question that was not answered Yes (Declined).
    UpdateQuestion declined;
    // The node refused the download-mode password.
    bool passwordRefused = false;
    // It failed for a reason of the node or the bus (a step left unanswered, a transfer that
    // broke off, a checksum the node does not confirm), not of the file or the user: made
    // again, it may succeed.
    bool busFault = false;

    bool Ok() const { return status == Done; }
};

// The sequences of an update, for one node: entering download mode, reading the sector
// table, the checks of a file before a sector is erased for it, erase, download with
// read-back and checksum, boot sector, execute, reset, and the standard update of the
// application sector. They ask, tell and show progress through a face, and they touch no
// widget: the download window and zandrel-flash run the same steps in the same order.
class UpdateProcedures {
public:
    // The sector the standard update writes.
    static constexpr std::uint8_t ApplicationSector = 2;
    static constexpr int MaxSectors = SectorTable::MaxSectors;

    UpdateProcedures(TFirmware_Downloader* downloader, UpdateFace& face);

    void SetDownloader(TFirmware_Downloader* downloader) { downloader_ = downloader; }
    TFirmware_Downloader* Downloader() const { return downloader_; }
    const SectorTable& Table() const { return table_; }
    // Forgets the table (a new showing, a new node): nothing of it counts until read again.
    void ForgetTable();

    // Makes sure the node is in download mode: asks before it enters it with the typed
    // password. Done when the node is in download mode.
    ProcedureResult EnsureDownloadMode();
    // Reads sector count, descriptions, sizes, checksum states and boot sector; the face is
    // told the table. False when the node did not tell its sector count.
    bool RetrieveSectorTable();
    // EnsureDownloadMode, then the table.
    ProcedureResult RetrieveConfiguration();

    // EraseSector, then the table read again; nonzero when the node erased the sector.
    std::int32_t EraseSectorAndRefresh(std::uint8_t sector);
    // Chooses a file, checks it against the sector and the node, erases the sector and runs
    // the download: Done when it was downloaded, verified and its checksum written.
    ProcedureResult DownloadSector(std::uint8_t sector);
    // The download of the open (and checked) file into the erased sector, judged and told.
    ProcedureResult RunDownload(std::uint8_t sector, std::unique_ptr<TIntelHexFile> file);

    // The single sector operations, each with its questions and its told outcome.
    ProcedureResult EraseSector(std::uint8_t sector);
    ProcedureResult UpgradeSector(std::uint8_t sector);
    ProcedureResult MakeBootSector(std::uint8_t sector);
    // Executes a sector; Done (node Restarted) when the node restarted into it.
    ProcedureResult ExecuteSector(std::uint8_t sector);
    ProcedureResult RebootNode();

    // The standard update: download mode, table, the question, the file and its checks,
    // sector 2 erased, downloaded, made the boot sector and the node restarted.
    ProcedureResult StandardUpdate();
    // The same once more after it failed for a reason of the node or the bus: the question
    // "Download New Firmware?" answered Yes is not asked again.
    ProcedureResult RepeatStandardUpdate();

    // The checks of the file for the standard update, made before the node is put into
    // download mode, from the sector table the node tells while its application runs (a node
    // that tells none there is checked once it is in download mode): a file too large for
    // sector 2, records that write an address differently, a file that holds no firmware or
    // another product's. Its questions, answered here, are not asked again for the file.
    ProcedureResult CheckImageFirst(const std::string& path);

    // The rest of the standard update for a node whose sector 2 holds its image already, with
    // a checksum the node confirms: download mode, sector 2 made the boot sector, the node
    // restarted.
    ProcedureResult BootApplicationSector();

    // How often a step the node left unanswered is made again.
    static constexpr int RepeatsAfterNoAnswer = 2;

private:
    ProcedureResult done();
    ProcedureResult failed(const std::string& reason);
    // Tells the notice and fails with its text.
    ProcedureResult failedWith(const char* text, const char* caption);
    ProcedureResult declined(const UpdateQuestion& question);
    // Asks; true when the answer goes on.
    bool ask(const UpdateQuestion& question);
    ProcedureResult askCaution(const std::string& text, const std::string& about,
                               QuestionKind kind = QuestionKind::Routine);
    ProcedureResult askRisk(const std::string& text, const std::string& about);
    void tell(const char* text, const char* caption);
    // The file chosen and checked for the sector; the result says why there is none.
    std::unique_ptr<TIntelHexFile> chooseHexFile(std::uint8_t sector, ProcedureResult* why);
    // askedAlready: the image checks' questions were answered for this file before.
    bool imageSuitsSector(TIntelHexFile& file, std::uint8_t sector, ProcedureResult* why,
                          bool askedAlready);
    ProcedureResult standardUpdate();
    ProcedureResult finishStandardUpdate();
    bool lastCallUnanswered() const;
    bool repeated(const std::function<std::int32_t()>& call, bool* unanswered);
    ProcedureResult stepFailed(const char* text, const char* caption, bool unanswered);
    ProcedureResult judgeTransfer(std::uint8_t sector, const TransferOutcome& transfer);
    ProcedureResult eraseAndDownload(std::uint8_t sector, std::unique_ptr<TIntelHexFile> file);
    void forgetTable();

    TFirmware_Downloader* downloader_;
    UpdateFace& face_;
    SectorTable table_;
    ProcedureResult::NodeState node_ = ProcedureResult::NodeState::Unknown;
    bool eraseUnanswered_ = false;      // the last erase went unanswered
    bool newFirmwareConfirmed_ = false; // "Download New Firmware?" was answered Yes
    std::string checkedImage_;          // the file CheckImageFirst found sound
};

// The texts of the download-mode question, so that a face can tell it from the others.
extern const char* const EnterDownloadModeQuestion;
