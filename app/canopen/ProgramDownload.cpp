#include "ProgramDownload.h"

#include "LastError.h"
#include "RepeatWhileUnanswered.h"
#include "Sleep.h"

#include <cstdio>

namespace {

// The download's progress hand-over from the driver's C callback.
struct ProgressContext {
    const TProgramDownload::Progress* progress;
    bool cancelled = false;
};

std::int32_t reportProgress(void* context, std::uint32_t done, std::uint32_t total) {
    auto* c = static_cast<ProgressContext*>(context);
    if (!c->progress || !*c->progress || (*c->progress)(done, total))
        return 1;
    c->cancelled = true;
    return 0;
}

// The abort code of a transfer the node left unanswered (our own time-out), and those of a
// transfer that lost frames on the way: each is worth a new attempt.
constexpr std::uint32_t NoAnswer = 0x05040000;
bool lostOnTheWay(std::uint32_t code) {
    return code == NoAnswer || code == 0x05030000 /* toggle bit */ ||
           code == 0x05040003 /* sequence number */ || code == 0x05040004 /* CRC */;
}

} // namespace

bool TProgramDownload::Program::Holds(std::uint32_t crc) const {
    return identification == crc && !(flashStatus & FlashBusy) && FlashErrorCode(flashStatus) == 0;
}

std::uint8_t FlashErrorCode(std::uint32_t status) {
    return static_cast<std::uint8_t>((status >> 1) & 0x7F);
}

std::string FlashStatusName(std::uint32_t status) {
    const unsigned code = FlashErrorCode(status);
    switch (code) {
    case 0:
        return "no error";
    case 1:
        return "no valid program";
    case 2:
        return "data format unknown";
    case 3:
        return "data format error";
    case 4:
        return "flash not cleared before write";
    case 5:
        return "flash write error";
    case 6:
        return "general address error";
    case 7:
        return "flash secured";
    case 63:
        return "unspecified error";
    default:
        return "error code " + std::to_string(code);
    }
}

std::string ProgramControlName(std::uint8_t control) {
    switch (control) {
    case TProgramDownload::Stop:
        return "stopped";
    case TProgramDownload::Start:
        return "started";
    default:
        return "state " + std::to_string(control);
    }
}

std::string SdoAbortText(std::uint32_t code) {
    const char* meaning = nullptr;
    switch (code) {
    case 0x05040000:
        meaning = "no answer in time";
        break;
    case 0x05040001:
        meaning = "command not known to the node";
        break;
    case 0x05040004:
        meaning = "CRC error";
        break;
    case 0x06010000:
    case 0x06010001:
    case 0x06010002:
        meaning = "access not allowed";
        break;
    case 0x06020000:
        meaning = "object does not exist";
        break;
    case 0x06070010:
    case 0x06070012:
    case 0x06070013:
        meaning = "length does not match";
        break;
    case 0x06090011:
        meaning = "sub-index does not exist";
        break;
    case 0x06090030:
        meaning = "value out of range";
        break;
    case 0x08000000:
        meaning = "general error";
        break;
    case 0x08000020:
    case 0x08000021:
        meaning = "data cannot be stored";
        break;
    case 0x08000022:
        meaning = "not in the node's present state";
        break;
    default:
        break;
    }
    return "SDO abort " + Hex32Text(code) + (meaning ? std::string(" (") + meaning + ")" : "");
}

TProgramDownload::TProgramDownload(TQVX_COPN_Interface& binding, std::uint8_t node)
    : binding_(binding), node_(node) {}

bool TProgramDownload::failed(const std::string& what) {
    lastMessage_ = what;
    return false;
}

std::string TProgramDownload::abortText(std::uint32_t code) const {
    if (code == NoAnswer)
        return "no answer within " + std::to_string(binding_.SdoTimeout()) + " ms";
    // The driver knows every abort code of CiA 301 by its meaning.
    const std::string meaning = binding_.ErrorText(code);
    if (meaning.empty())
        return SdoAbortText(code);
    return "SDO abort " + Hex32Text(code) + " (" + meaning + ")";
}

bool TProgramDownload::again(const std::function<std::int32_t()>& transfer) {
    return RepeatWhileUnanswered(2, NoAnswer, transfer) != 0;
}

bool TProgramDownload::ReadRoom(std::uint8_t program, std::uint32_t* room) {
    return again([&] {
        return binding_.SDO_Upload_UNSIGNED32(handle(), node_, ProgramRoom, program, room);
    });
}

bool TProgramDownload::IsStandardNode() {
    std::uint8_t count = 0, sectors = 0;
    if (!binding_.SDO_Upload_UNSIGNED8(handle(), node_, ProgramControl, 0, &count) || count == 0)
        return false;
    return !binding_.SDO_Upload_UNSIGNED8(handle(), node_, FirmwareSectorCount, 0, &sectors);
}

bool TProgramDownload::ProgramCount(std::uint8_t* count) {
    if (!binding_.SDO_Upload_UNSIGNED8(handle(), node_, ProgramControl, 0, count))
        return failed("The node's number of programs (0x1F51:00) cannot be read: " +
                      abortText(GetLastError()) + ".");
    return true;
}

bool TProgramDownload::ReadProgram(std::uint8_t program, Program* state) {
    Program read;
    const std::string sub = std::to_string(program);
    if (!again([&] {
            return binding_.SDO_Upload_UNSIGNED8(handle(), node_, ProgramControl, program,
                                                 &read.control);
        }))
        return failed("Program " + sub +
                      "'s state (0x1F51) cannot be read: " + abortText(GetLastError()) + ".");
    if (!again([&] {
            return binding_.SDO_Upload_UNSIGNED32(handle(), node_, FlashStatus, program,
                                                  &read.flashStatus);
        }))
        return failed("Program " + sub + "'s flash status (0x1F57) cannot be read: " +
                      abortText(GetLastError()) + ".");
    if (!again([&] {
            return binding_.SDO_Upload_UNSIGNED32(handle(), node_, ProgramIdentification, program,
                                                  &read.identification);
        }))
        return failed("Program " + sub + "'s software identification (0x1F56) cannot be read: " +
                      abortText(GetLastError()) + ".");
    *state = read;
    return true;
}

bool TProgramDownload::Control(std::uint8_t program, ControlValue value) {
    if (again([&] {
            return binding_.SDO_Download_UNSIGNED8(handle(), node_, ProgramControl, program, value);
        }))
        return true;
    static const char* const verbs[] = {"stop", "start", "restart", "clear"};
    const std::uint32_t code = GetLastError();
    return failed(
        (code == NoAnswer ? "The node did not answer the request to " : "The node refused to ") +
        std::string(verbs[value]) + " program " + std::to_string(program) + ": " + abortText(code) +
        ".");
}

bool TProgramDownload::waitForFlash(std::uint8_t program, std::uint32_t* status) {
    for (unsigned poll = 0; poll <= FlashPollLimit; ++poll) {
        if (poll > 0)
            Sleep(FlashPollPause);
        if (!again([&] {
                return binding_.SDO_Upload_UNSIGNED32(handle(), node_, FlashStatus, program,
                                                      status);
            }))
            return failed("Program " + std::to_string(program) +
                          "'s flash status (0x1F57) cannot be read: " + abortText(GetLastError()) +
                          ".");
        if (!(*status & FlashBusy))
            return true;
    }
    return failed("The node is still flashing program " + std::to_string(program) +
                  " after two minutes.");
}

bool TProgramDownload::waitForStart(std::uint8_t program) {
    std::uint8_t control = Stop;
    for (unsigned poll = 0; poll <= StartPollLimit; ++poll) {
        if (poll > 0)
            Sleep(FlashPollPause);
        // A node that restarts into its program does not answer until it is back.
        if (binding_.SDO_Upload_UNSIGNED8(handle(), node_, ProgramControl, program, &control) &&
            control == Start)
            return true;
    }
    return failed("Program " + std::to_string(program) +
                  " was told to start, but the node does not report it started (0x1F51 " +
                  "reads " + ProgramControlName(control) + " after ten seconds).");
}

bool TProgramDownload::StartHeld(std::uint8_t program) {
    return Control(program, Start) && waitForStart(program);
}

TProgramDownload::Outcome TProgramDownload::Download(std::uint8_t program,
                                                     const ProgramImage& image,
                                                     const Progress& progress,
                                                     const Options& options) {
    Outcome outcome;
    auto fail = [&] {
        outcome.result = Result::Failed;
        outcome.message = lastMessage_;
        return outcome;
    };
    const std::string name = "program " + std::to_string(program);
    const std::string Name = "Program " + std::to_string(program);
    const std::string cleared =
        " " + Name + " is stopped and cleared: the node holds no " + name + " now.";
    // What the node tells of the program's room is checked before anything is sent.
    std::uint32_t room = 0;
    if (ReadRoom(program, &room) && image.bytes.size() > room) {
        failed("The file's program of " + std::to_string(image.bytes.size()) +
               " bytes does not fit " + name + ", whose room is " + std::to_string(room) +
               " bytes. Nothing was sent; " + name + " is as it was.");
        return fail();
    }

    std::uint32_t status = 0;
    ProgressContext context{&progress};
    for (;;) {
        ++outcome.attempts;
        if (!Control(program, Stop) || !Control(program, Clear) || !waitForFlash(program, &status))
            return fail();
        if (const std::uint8_t error = FlashErrorCode(status);
            error != 0 && error != NoValidProgram) {
            failed("The node could not clear " + name + ": " + FlashStatusName(status) + ".");
            return fail();
        }

        std::vector<std::uint8_t> bytes = image.bytes; // the export takes a writable buffer
        std::uint32_t length = static_cast<std::uint32_t>(bytes.size());
        std::uint32_t went = QVX_COPN_WENT_SEGMENTED;
        SetLastError(0);
        if (binding_.SDO_Block_Transfer(handle(), node_, ProgramData, program, 0, &length,
                                        bytes.data(), reportProgress, &context, &went)) {
            outcome.wentAsBlock = went == QVX_COPN_WENT_BLOCK;
            break;
        }
        if (context.cancelled) {
            outcome.result = Result::Cancelled;
            outcome.message = "The download was cancelled; " + name + " is stopped and cleared.";
            return outcome;
        }
        if (!binding_.ProgramDriver.SDO_Block_Transfer) {
            failed("The CANopen driver library cannot write a program (it has no "
                   "SDO_Block_Transfer).");
            return fail();
        }
        const std::uint32_t code = GetLastError();
        if (!lostOnTheWay(code) || outcome.attempts >= WriteAttempts) {
            failed("Writing " + name + " (0x1F50) failed: " + abortText(code) + "." + cleared +
                   (outcome.attempts > 1 ? " (" + std::to_string(outcome.attempts) + " attempts)"
                                         : std::string()));
            return fail();
        }
    }
    outcome.bytes = static_cast<std::uint32_t>(image.bytes.size());

    if (!waitForFlash(program, &status))
        return fail();
    if (FlashErrorCode(status)) {
        failed("The node reports " + FlashStatusName(status) + " for " + name + "; " + name +
               " is left stopped.");
        return fail();
    }
    std::uint32_t identification = 0;
    if (!again([&] {
            return binding_.SDO_Upload_UNSIGNED32(handle(), node_, ProgramIdentification, program,
                                                  &identification);
        })) {
        failed("The software identification of " + name + " (0x1F56) cannot be read: " +
               abortText(GetLastError()) + "; " + name + " is left stopped.");
        return fail();
    }
    outcome.identification = identification;
    outcome.verified = identification == image.crc;
    if (!outcome.verified && options.expectCrc) {
        failed("The node identifies " + name + " as " + Hex32Text(identification) +
               ", not as the file's CRC-32 " + Hex32Text(image.crc) + "; " + name +
               " is left stopped.");
        return fail();
    }
    // The last moment to stop: written and checked, but not yet started.
    if (progress && !progress(outcome.bytes, outcome.bytes)) {
        outcome.result = Result::Cancelled;
        outcome.message = "The download was cancelled; " + name + " is written but not started.";
        return outcome;
    }
    if (!StartHeld(program))
        return fail();
    outcome.result = Result::Done;
    outcome.message = "Program Download Successful";
    if (!outcome.verified)
        outcome.message += "\r\n" + Name + " was written and started; " +
                           NotVerifiedText(identification, image.crc) + ".";
    return outcome;
}

std::string NotVerifiedText(std::uint32_t identification, std::uint32_t crc) {
    return "not verified by identification (node reports " + Hex32Text(identification) +
           ", file CRC-32 " + Hex32Text(crc) + ")";
}

std::string ProgramStartHeldText(std::uint8_t program, std::uint32_t crc) {
    const std::string p = std::to_string(program);
    return "Program " + p + " holds this file already (software identification " + Hex32Text(crc) +
           "), but it is stopped.\r\nStart program " + p + "?";
}

std::string ProgramAlreadyHeldText(std::uint8_t program, std::uint32_t crc) {
    return "Program " + std::to_string(program) + " already holds this file (software " +
           "identification " + Hex32Text(crc) + ").\r\nDownload it again?";
}

std::string ProgramStopText(std::uint8_t node, std::uint8_t program, std::size_t bytes) {
    const std::string p = std::to_string(program);
    return "Downloading stops program " + p + " of node " + std::to_string(node) +
           " and erases it before the new one is written.\r\n"
           "Make sure the Node is in a safe state!\r\nDownload " +
           std::to_string(bytes) + " bytes into program " + p + "?";
}
