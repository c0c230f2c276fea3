#include "UpdateProcedures.h"

#include "Application.h"
#include "HexPassword.h"
#include "IntelHexFile.h"
#include "LastError.h"
#include "RepeatWhileUnanswered.h"
#include "Sleep.h"

#include <optional>

const char* const EnterDownloadModeQuestion =
    "The module is not currently in the download mode.\r\n"
    "Entering Download mode will stop current Node Application Firmware!\r\n"
    "Make sure the Node is in a safe state!\r\n"
    "Enter download mode?\r\n";

namespace {

using NodeState = ProcedureResult::NodeState;

std::string sectorWords(std::uint8_t sector) {
    return "sector " + std::to_string(sector);
}

} // namespace

UpdateProcedures::UpdateProcedures(TFirmware_Downloader* downloader, UpdateFace& face)
    : downloader_(downloader), face_(face) {}

void UpdateProcedures::ForgetTable() {
    table_.Forget();
}

ProcedureResult UpdateProcedures::done() {
    ProcedureResult result;
    result.status = ProcedureResult::Done;
    result.node = node_;
    return result;
}

ProcedureResult UpdateProcedures::failed(const std::string& reason) {
    ProcedureResult result;
    result.status = ProcedureResult::Failed;
    result.node = node_;
    result.reason = reason;
    return result;
}

ProcedureResult UpdateProcedures::failedWith(const char* text, const char* caption) {
    tell(text, caption);
    return failed(text);
}

ProcedureResult UpdateProcedures::declined(const UpdateQuestion& question) {
    ProcedureResult result;
    result.status = ProcedureResult::Declined;
    result.node = node_;
    result.declined = question;
    result.reason = "the question to " + question.about + " was not answered Yes";
    if (question.kind == QuestionKind::ImageCheck)
        result.reason = "refused: " + question.about;
    return result;
}

bool UpdateProcedures::ask(const UpdateQuestion& question) {
    const int yes = (question.flags & 0x0F) == MB_OKCANCEL ? IDOK : IDYES;
    return face_.Ask(question) == yes;
}

// The application's Yes/No/Cancel box with the caption "Caution".
ProcedureResult UpdateProcedures::askCaution(const std::string& text, const std::string& about,
                                             QuestionKind kind) {
    UpdateQuestion question{
        MessageBoxKind::Application, text, "Caution", MB_YESNOCANCEL, kind, about};
    return ask(question) ? done() : declined(question);
}

// A question whose safe answer is the default: the caption "Warning", No preselected; an
// image check.
ProcedureResult UpdateProcedures::askRisk(const std::string& text, const std::string& about) {
    UpdateQuestion question{MessageBoxKind::Application,
                            text,
                            "Warning",
                            MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2,
                            QuestionKind::ImageCheck,
                            about};
    return ask(question) ? done() : declined(question);
}

void UpdateProcedures::tell(const char* text, const char* caption) {
    face_.Tell({MessageBoxKind::Application, text, caption, MB_OK});
}

void UpdateProcedures::forgetTable() {
    table_.Forget();
    face_.TableForgotten();
}

bool UpdateProcedures::lastCallUnanswered() const {
    return downloader_ && downloader_->NoAnswerError != 0 &&
           GetLastError() == downloader_->NoAnswerError;
}

// Erase, checksum and boot-sector writes, and the questions that follow them, can be made
// again without harm: one the node left unanswered is made again, at most twice.
// *unanswered: the last try went unanswered.
bool UpdateProcedures::repeated(const std::function<std::int32_t()>& call, bool* unanswered) {
    const bool made =
        RepeatWhileUnanswered(1 + RepeatsAfterNoAnswer,
                              downloader_ ? downloader_->NoAnswerError : 0, call) != 0;
    *unanswered = !made && lastCallUnanswered();
    return made;
}

// A step that failed: its text told, with a word when the node did not answer, which makes
// it a failure of the node or the bus.
ProcedureResult UpdateProcedures::stepFailed(const char* text, const char* caption,
                                             bool unanswered) {
    const std::string told =
        unanswered ? std::string(text) + "\r\nThe node did not answer." : std::string(text);
    ProcedureResult result = failedWith(told.c_str(), caption);
    result.busFault = unanswered;
    return result;
}

ProcedureResult UpdateProcedures::EnsureDownloadMode() {
    if (!downloader_)
        return failed("there is no node to work on");
    std::uint32_t inDownloadMode = 0;
    if (!downloader_->IsInDownloadMode(&inDownloadMode))
        return failed("the node does not say whether it is in download mode");
    if (inDownloadMode) {
        node_ = NodeState::DownloadMode;
        return done();
    }
    UpdateQuestion question{MessageBoxKind::System,
                            EnterDownloadModeQuestion,
                            "Warning",
                            MB_YESNOCANCEL | MB_ICONEXCLAMATION,
                            QuestionKind::Routine,
                            "enter download mode"};
    if (!ask(question))
        return declined(question);
    const std::uint32_t password = ParseHexPassword(face_.Password());
    // The node is in download mode when it says so: a lost answer to the password, or a
    // restart that never reached the node, leaves it running its application, and the
    // password and the restart are made again.
    bool unanswered = false;
    for (int attempt = 0; attempt < 1 + RepeatsAfterNoAnswer; ++attempt) {
        std::int32_t accepted;
        {
            HourGlassCursor hourglass;
            SetLastError(0);
            accepted = downloader_->EnterDownloadMode(password);
            unanswered = !accepted && lastCallUnanswered();
        }
        if (!accepted && !unanswered) {
            face_.Tell({MessageBoxKind::System, "Password Not Accepted\r\n", "Warning",
                        MB_OK | MB_ICONEXCLAMATION});
            ProcedureResult result = failed("Password Not Accepted");
            result.passwordRefused = true;
            return result;
        }
        bool silent = false;
        const bool told =
            repeated([&] { return downloader_->ConfirmDownloadMode(&inDownloadMode); }, &silent);
        if (told && inDownloadMode) {
            node_ = NodeState::DownloadMode;
            return done();
        }
        unanswered = unanswered || !told;
    }
    if (unanswered)
        return stepFailed("Could Not Enter Download Mode!", "Error", true);
    // The node took the password and still runs its application: its restart went lost.
    ProcedureResult result = failedWith(
        "Could Not Enter Download Mode!\r\nThe node still runs its application.", "Error");
    result.busFault = true;
    return result;
}

bool UpdateProcedures::RetrieveSectorTable() {
    if (!downloader_)
        return false;
    std::uint8_t count = 0;
    if (!downloader_->GetSectorCount(&count))
        return false;
    {
        HourGlassCursor hourglass;
        // Room for MaxSectors; a node reporting more shows its first ones.
        table_.Count = count < MaxSectors ? count : MaxSectors;
        table_.Unchecked.clear();
        for (bool& read : table_.Read)
            read = false;
        for (int s = 0; s < table_.Count; ++s) {
            const auto sector = static_cast<std::uint8_t>(s);
            if (!downloader_->GetSectorDescription(sector, &table_.Sectors[s])) {
                table_.ChecksumConfirmed[s] = false; // what an earlier read confirmed is past
                continue;
            }
            table_.Read[s] = true;
            std::uint32_t size = 0;
            table_.SizeKnown[s] = downloader_->GetSectorSize(sector, &size) != 0;
            table_.Size[s] = size;
            table_.ChecksumConfirmed[s] = false;
            table_.Status[s] = SectorTable::Ok;
            if (table_.Sectors[s].IsEmpty()) {
                table_.Status[s] = SectorTable::Empty;
            } else {
                std::uint32_t ok = 1;
                if (!downloader_->ChecksumOk(sector, &ok))
                    table_.Unchecked.push_back(s);
                else if (ok == 0)
                    table_.Status[s] = SectorTable::ChecksumError;
                else
                    table_.ChecksumConfirmed[s] = true;
            }
        }
        std::uint8_t boot = 0;
        table_.BootRead = downloader_->GetBootSector(&boot) != 0;
        if (table_.BootRead) {
            table_.BootSector = boot;
            table_.Valid = 1;
        }
    }
    face_.TableRead(table_);
    return true;
}

ProcedureResult UpdateProcedures::RetrieveConfiguration() {
    ProcedureResult mode = EnsureDownloadMode();
    if (!mode.Ok())
        return mode;
    if (!RetrieveSectorTable())
        return failed("the node did not tell its sector table");
    if (!table_.Valid)
        return failed("the node did not tell its boot sector");
    return done();
}

std::int32_t UpdateProcedures::EraseSectorAndRefresh(std::uint8_t sector) {
    if (!downloader_) {
        forgetTable();
        return 0;
    }
    bool unanswered = false;
    const bool erased = repeated([&] { return downloader_->EraseSector(sector); }, &unanswered);
    RetrieveSectorTable();
    eraseUnanswered_ = !erased && unanswered;
    // The answer may be what went lost: a sector the node now shows empty was erased.
    if (eraseUnanswered_ && table_.Holds(sector) && table_.Status[sector] == SectorTable::Empty)
        return 1;
    return erased ? 1 : 0;
}

// The checks made on the chosen file before its sector is erased: it must fit the sector,
// and it must look like firmware for this node unless the user says otherwise.
bool UpdateProcedures::imageSuitsSector(TIntelHexFile& file, std::uint8_t sector,
                                        ProcedureResult* why, bool askedAlready) {
    const std::uint32_t base = ImageBaseOf(*downloader_);
    std::optional<HexImageSummary> image;
    {
        HourGlassCursor hourglass;
        image = SummariseHexImage(file, base);
    }
    if (!image) {
        *why = failedWith("Download Error", "Warning");
        return false;
    }
    // A sector whose size the node did not tell is taken to hold whatever the file writes.
    const bool sizeKnown = sector < MaxSectors && table_.SizeKnown[sector];
    const std::string refusal =
        SectorRefusal(*image, base, sector, sizeKnown ? table_.Size[sector] : 0xFFFFFFFFu);
    if (!refusal.empty()) {
        *why = failedWith(refusal.c_str(), "Error");
        return false;
    }
    if (askedAlready)
        return true;
    const std::string question =
        ImageQuestion(image->Header, NodeFirmware(table_.Sectors, table_.Read, MaxSectors,
                                                  table_.BootSector, ApplicationSector));
    if (question.empty())
        return true;
    const std::string about = question == NotFirmwareText
                                  ? "the file holds no firmware image header"
                                  : "the file holds another product's firmware than the node";
    *why = askRisk(question, about);
    return why->Ok();
}

ProcedureResult UpdateProcedures::CheckImageFirst(const std::string& path) {
    checkedImage_.clear();
    if (!downloader_)
        return failed("there is no node to work on");
    // What the node tells of its sectors while its application runs: enough for the checks
    // where it tells it, else they are made again once it is in download mode.
    if (!RetrieveSectorTable() || !table_.Valid)
        return done();
    TIntelHexFile file;
    if (!file.Open(path.c_str()) || !HexFileHoldsValidImage(file))
        return failedWith("Download Error", "Warning");
    ProcedureResult why;
    if (!imageSuitsSector(file, ApplicationSector, &why, false))
        return why;
    checkedImage_ = path;
    return done();
}

// Asks for the file and reads it through before anything is erased: a file that cannot be
// downloaded whole must not cost the sector its contents. The file stays open from this
// check to the end of the download, so that what is written is what was checked.
std::unique_ptr<TIntelHexFile> UpdateProcedures::chooseHexFile(std::uint8_t sector,
                                                               ProcedureResult* why) {
    const std::optional<std::string> path = face_.ChooseFile();
    if (!path) {
        *why = failed("no file was chosen");
        why->status = ProcedureResult::Cancelled;
        return nullptr;
    }
    auto file = std::make_unique<TIntelHexFile>();
    bool sound;
    {
        HourGlassCursor hourglass;
        sound = file->Open(path->c_str()) && HexFileHoldsValidImage(*file);
    }
    if (!sound) {
        *why = failedWith("Download Error", "Warning");
        return nullptr;
    }
    if (!imageSuitsSector(*file, sector, why, !checkedImage_.empty() && *path == checkedImage_))
        return nullptr;
    return file;
}

ProcedureResult UpdateProcedures::eraseAndDownload(std::uint8_t sector,
                                                   std::unique_ptr<TIntelHexFile> file) {
    bool unanswered = false;
    if (!repeated([&] { return downloader_->EraseSector(sector); }, &unanswered)) {
        // The answer may be what went lost: a sector the node shows empty was erased.
        bool erased = false;
        if (unanswered && RetrieveSectorTable())
            erased = table_.Holds(sector) && table_.Status[sector] == SectorTable::Empty;
        if (!erased)
            return stepFailed("Could Not Erase Sector!", "Error", unanswered);
    }
    return RunDownload(sector, std::move(file));
}

ProcedureResult UpdateProcedures::DownloadSector(std::uint8_t sector) {
    if (!downloader_) {
        forgetTable();
        return failed("there is no node to work on");
    }
    ProcedureResult why;
    auto file = chooseHexFile(sector, &why);
    if (!file)
        return why;
    return eraseAndDownload(sector, std::move(file));
}

ProcedureResult UpdateProcedures::RunDownload(std::uint8_t sector,
                                              std::unique_ptr<TIntelHexFile> file) {
    if (!downloader_ || !file)
        return failed("there is nothing to download");
    const TransferOutcome transfer = face_.Transfer(sector, std::move(file));
    ProcedureResult result = judgeTransfer(sector, transfer);
    face_.TransferJudged();
    return result;
}

ProcedureResult UpdateProcedures::judgeTransfer(std::uint8_t sector,
                                                const TransferOutcome& transfer) {
    if (!transfer.downloadOk || !transfer.verifyOk || transfer.cancelled) {
        RetrieveSectorTable();
        ProcedureResult result = transfer.downloadOk ? failedWith("Verify Error", "Warning")
                                                     : failedWith("Download Error", "Warning");
        if (transfer.cancelled) {
            result.status = ProcedureResult::Cancelled;
            result.reason = "the download was stopped; the checksum was not written";
        } else {
            result.busFault = true; // the file was read through before: the node or the bus
        }
        return result;
    }
    bool unanswered = false;
    const bool written =
        repeated([&] { return downloader_->SetSectorChecksum(sector); }, &unanswered);
    RetrieveSectorTable();
    // Success is the node's word: its own check of the sector against the stored checksum.
    // A question the node left unanswered is asked again: it changes nothing.
    std::uint32_t confirmed = 0;
    bool silent = false;
    const bool asked =
        repeated([&] { return downloader_->ChecksumOk(sector, &confirmed); }, &silent);
    // A write whose answer went lost counts when the node vouches for the checksum.
    if (!written && !(unanswered && asked && confirmed))
        return stepFailed("Could Not Write Checksum", "Error", unanswered);
    const std::string n = std::to_string(sector);
    if (!asked) {
        ProcedureResult result =
            failedWith(("The node cannot be asked whether the checksum of sector #" + n +
                        " is valid: the download could not be confirmed.")
                           .c_str(),
                       "Error");
        result.busFault = true;
        return result;
    }
    if (!confirmed) {
        ProcedureResult result = failedWith(("The node does not confirm the checksum of sector #" +
                                             n + ": the download is not complete.")
                                                .c_str(),
                                            "Error");
        result.busFault = true;
        return result;
    }
    tell("Download Successful", "Success");
    return done();
}

ProcedureResult UpdateProcedures::EraseSector(std::uint8_t s) {
    if (!downloader_)
        return failed("there is no node to work on");
    if (ProcedureResult r =
            askCaution("Erase Sector #" + std::to_string(s) + "?", "erase " + sectorWords(s));
        !r.Ok())
        return r;
    if (s == table_.BootSector)
        if (ProcedureResult r = askCaution(
                "Erasing the active page will set the active page to 0...\r\n       Continue?",
                sectorWords(s) + " is the boot sector", QuestionKind::ImageCheck);
            !r.Ok())
            return r;
    if (s == 0)
        if (ProcedureResult r = askRisk(
                "Sector 0 holds the loader the node needs to take new firmware. Erase it anyway?",
                "sector 0 holds the loader");
            !r.Ok())
            return r;
    if (!EraseSectorAndRefresh(s))
        return failedWith("Could Not Erase Sector!", "Error");
    tell("Sector Erased!", "Success");
    return done();
}

ProcedureResult UpdateProcedures::UpgradeSector(std::uint8_t s) {
    if (!downloader_)
        return failed("there is no node to work on");
    if (table_.Holds(s) && !table_.Sectors[s].IsEmpty())
        return failedWith("Sector Not Empty...\r\n\r\nErase Sector First!", "Error");
    if (ProcedureResult r = askCaution("Download Sector #" + std::to_string(s) + "?",
                                       "download into " + sectorWords(s));
        !r.Ok())
        return r;
    return DownloadSector(s);
}

ProcedureResult UpdateProcedures::MakeBootSector(std::uint8_t s) {
    if (!downloader_) {
        forgetTable();
        return failed("there is no node to work on");
    }
    if (table_.Sectors[s].IsEmpty())
        return failedWith("Sector Empty.\r\n Cannot make current sector the Boot Sector!", "Error");
    if (ProcedureResult r = askCaution("Make current sector the Boot Sector?",
                                       "make " + sectorWords(s) + " the boot sector");
        !r.Ok())
        return r;
    // A sector whose checksum the node has not confirmed may not start at all.
    if (!table_.ChecksumConfirmed[s])
        if (ProcedureResult r =
                askRisk("The node does not confirm the checksum of sector #" + std::to_string(s) +
                            ". Make it the Boot Sector anyway?",
                        "the node does not confirm the checksum of " + sectorWords(s));
            !r.Ok())
            return r;
    bool unanswered = false;
    bool set = repeated([&] { return downloader_->SetBootSector(s); }, &unanswered);
    RetrieveSectorTable();
    // The answer may be what went lost: the node tells its boot sector.
    if (!set && unanswered && table_.BootRead && table_.BootSector == s)
        set = true;
    if (!set)
        return stepFailed("Cannot Make Sector Active!", "Warning", unanswered);
    return done();
}

ProcedureResult UpdateProcedures::ExecuteSector(std::uint8_t s) {
    if (!downloader_)
        return failed("there is no node to work on");
    // Sector 0 is the loader that runs the node in download mode: nothing to ask the node,
    // whether or not its description could be read.
    if (s == 0)
        return failedWith("Active Sector already running.\r\n", "Information");
    if (table_.Status[s] == SectorTable::ChecksumError)
        return failedWith("Cannot Execute Sector!\r\nChecksum Error!", "Error");
    if (table_.Sectors[s].IsEmpty())
        return failedWith("Sector Empty!\r\n Cannot make execute an empty sector!", "Error");
    if (ProcedureResult r =
            askCaution("Execute Sector #" + std::to_string(s) + "?", "execute " + sectorWords(s));
        !r.Ok())
        return r;
    if (s != table_.BootSector) {
        UpdateQuestion boot;
        boot.text = "Do you want to make this the boot sector?\r\nIf you choose \"No\" this "
                    "sector will only be active until power cycle or reset!\r\n";
        boot.caption = "Caution";
        boot.about = "make " + sectorWords(s) + " the boot sector";
        const int answer = face_.Ask(boot);
        if (answer == IDYES)
            downloader_->SetBootSector(s);
        else if (answer != IDNO)
            return declined(boot);
    }
    if (!downloader_->ExecuteSector(s))
        return failedWith("Could Not Execute Sector!\r\n Possible Checksum Error", "Error");
    node_ = NodeState::Restarted;
    forgetTable();
    return done();
}

ProcedureResult UpdateProcedures::RebootNode() {
    if (!downloader_)
        return failed("there is no node to work on");
    if (!downloader_->Reset())
        return failed("the node did not take the reset");
    node_ = NodeState::Restarted;
    forgetTable();
    return done();
}

ProcedureResult UpdateProcedures::StandardUpdate() {
    newFirmwareConfirmed_ = false;
    return standardUpdate();
}

ProcedureResult UpdateProcedures::RepeatStandardUpdate() {
    return standardUpdate();
}

ProcedureResult UpdateProcedures::standardUpdate() {
    if (ProcedureResult mode = EnsureDownloadMode(); !mode.Ok())
        return mode;
    RetrieveSectorTable();
    UpdateQuestion go{MessageBoxKind::System,
                      "Are you sure you want to Download New Firmware?\r\n Continue?",
                      "Warning",
                      MB_YESNOCANCEL | MB_ICONEXCLAMATION,
                      QuestionKind::Routine,
                      "download new firmware"};
    if (!newFirmwareConfirmed_ && !ask(go))
        return declined(go);
    newFirmwareConfirmed_ = true;
    // The file is chosen and checked before sector 2 is erased, so that a cancelled choice
    // or a bad file leaves the running firmware in place.
    ProcedureResult why;
    auto file = chooseHexFile(ApplicationSector, &why);
    if (!file)
        return why;
    if (!EraseSectorAndRefresh(ApplicationSector)) {
        Sleep(1000);
        if (!EraseSectorAndRefresh(ApplicationSector))
            return stepFailed("Could Not Erase Sector!", "Error", eraseUnanswered_);
    }
    if (ProcedureResult download = eraseAndDownload(ApplicationSector, std::move(file));
        !download.Ok())
        return download;
    return finishStandardUpdate();
}

ProcedureResult UpdateProcedures::BootApplicationSector() {
    if (ProcedureResult mode = EnsureDownloadMode(); !mode.Ok())
        return mode;
    RetrieveSectorTable();
    if (!table_.Holds(ApplicationSector) || !table_.ChecksumConfirmed[ApplicationSector])
        return failed("the node does not confirm the checksum of sector " +
                      std::to_string(ApplicationSector));
    return finishStandardUpdate();
}

ProcedureResult UpdateProcedures::finishStandardUpdate() {
    bool unanswered = false;
    if (!repeated([&] { return downloader_->SetBootSector(ApplicationSector); }, &unanswered)) {
        // The answer may be what went lost: the node tells its boot sector.
        std::uint8_t boot = 0;
        if (!(unanswered && downloader_->GetBootSector(&boot) && boot == ApplicationSector))
            return stepFailed("Cannot Make Sector Active!", "Warning", unanswered);
    }
    UpdateQuestion execute{MessageBoxKind::Application,
                           "Sector Download Complete\r\nExecute new Firmware?",
                           "Caution",
                           MB_YESNOCANCEL,
                           QuestionKind::Routine,
                           "execute the new firmware"};
    if (!ask(execute))
        return declined(execute);
    if (!downloader_->Reset())
        return failedWith("Cannot Execute New Firmware!", "Warning");
    node_ = NodeState::Restarted;
    return done();
}
