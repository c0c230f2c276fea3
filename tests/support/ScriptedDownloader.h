#pragma once

#include "Application.h"
#include "Firmware_Downloader.h"
#include "LastError.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// A downloader whose answers a test sets beforehand. It records every call it receives
// (name and arguments) and the screen cursor at the time of the call.
class ScriptedDownloader : public TFirmware_Downloader {
public:
    struct Sector {
        bool descriptionOk = true;
        SectorDescription description{};
        bool sizeOk = true;
        std::uint32_t size = 0x1F000;
        bool checksumCallOk = true;
        std::uint32_t checksumOk = 1;
    };

    // The node's answers.
    bool modeCallOk = true;
    std::uint32_t inDownloadMode = 0;
    bool passwordAccepted = true;
    // The last-error value a refused password leaves (NoAnswerError: its answer went lost).
    std::uint32_t passwordFailureError = 0;
    // Accepted passwords whose restart never reaches the node: it goes on in its application.
    int restartsLost = 0;
    bool countOk = true;
    std::vector<Sector> sectors;
    bool bootOk = true;
    std::uint8_t bootSector = 0;

    // Sector operations. Counted failures fail that many calls, then the calls succeed.
    int eraseFailures = 0;
    // Whether the node confirms a checksum it is given (ChecksumOk afterwards).
    bool checksumConfirmed = true;
    bool setBootOk = true;
    bool executeOk = true;
    bool resetOk = true;
    bool checksumWriteOk = true;
    // The last-error value a failed erase leaves (the node's time-out when it is the
    // downloader's NoAnswerError).
    std::uint32_t eraseFailureError = 0;
    // Block writes and read-backs: the call with this index (from 0) fails, -1 = none.
    int failDownloadAt = -1;
    bool readBackSupported = true;
    int failUploadAt = -1;
    int corruptUploadAt = -1;
    // Runs inside EraseSector with the sector, before the sector is erased.
    std::function<void(std::uint8_t)> onErase;
    // Runs inside DownloadFirmware / UploadFirmware (on the worker) with the call's index.
    std::function<void(int)> onDownload;
    std::function<void(int)> onUpload;

    // Network side.
    bool goOnlineOk = true;
    bool browseTimeOk = true;
    std::uint32_t browseTime = 5000;
    std::uint16_t maxNodes = 128;
    bool pollOk = true;
    bool alwaysChanged = false; // every poll reports a change
    bool configOk = true;
    InterfaceConfigRecord config{};
    bool interfaceNameOk = true;
    std::string interfaceName = "Scripted";
    std::string baudRate = "500K";
    std::string nodeId = "62";
    bool configurationAccepted = false;
    std::function<void()> onGoOffline;
    // Runs with the name of every recorded call, as it is recorded.
    std::function<void(const std::string&)> onCall;

    struct Block {
        std::uint8_t sector;
        std::uint32_t address;
        std::uint8_t length;
        bool operator==(const Block&) const = default;
    };
    std::vector<Block> Downloads() const {
        std::lock_guard lock(mutex_);
        return downloads_;
    }
    std::vector<Block> Uploads() const {
        std::lock_guard lock(mutex_);
        return uploads_;
    }
    // Calls whose name starts with prefix.
    size_t CountCalls(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& call : Calls())
            n += call.rfind(prefix, 0) == 0;
        return n;
    }

    static SectorDescription Description(const char* name, const char* text, const char* date,
                                         const char* time, std::uint32_t revision) {
        SectorDescription d{};
        std::strncpy(d.Name, name, sizeof d.Name);
        std::strncpy(d.Description, text, sizeof d.Description);
        std::strncpy(d.BuildDate, date, sizeof d.BuildDate);
        std::strncpy(d.BuildTime, time, sizeof d.BuildTime);
        d.Revision = revision;
        return d;
    }
    static SectorDescription EmptyDescription() {
        SectorDescription d;
        std::memset(&d, 0xFF, sizeof d);
        return d;
    }

    std::vector<std::string> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<TCursor> Cursors() const {
        std::lock_guard lock(mutex_);
        return cursors_;
    }
    void ClearCalls() {
        std::lock_guard lock(mutex_);
        calls_.clear();
        cursors_.clear();
    }

    std::int32_t IsInDownloadMode(std::uint32_t* flag) override {
        record("IsInDownloadMode");
        if (!modeCallOk)
            return 0;
        *flag = inDownloadMode;
        return 1;
    }
    std::int32_t EnterDownloadMode(std::uint32_t password) override {
        record("EnterDownloadMode(" + std::to_string(password) + ")");
        if (!passwordAccepted) {
            SetLastError(passwordFailureError);
            return 0;
        }
        if (restartsLost > 0)
            --restartsLost;
        else
            inDownloadMode = 1;
        return 1;
    }
    std::int32_t GetSectorCount(std::uint8_t* count) override {
        record("GetSectorCount");
        if (!countOk)
            return 0;
        *count = static_cast<std::uint8_t>(sectors.size());
        return 1;
    }
    std::int32_t GetSectorDescription(std::uint8_t s, SectorDescription* d) override {
        record("GetSectorDescription(" + std::to_string(s) + ")");
        if (s >= sectors.size() || !sectors[s].descriptionOk)
            return 0;
        *d = sectors[s].description;
        return 1;
    }
    std::int32_t GetSectorSize(std::uint8_t s, std::uint32_t* size) override {
        record("GetSectorSize(" + std::to_string(s) + ")");
        if (s >= sectors.size() || !sectors[s].sizeOk)
            return 0;
        *size = sectors[s].size;
        return 1;
    }
    std::int32_t ChecksumOk(std::uint8_t s, std::uint32_t* ok) override {
        record("ChecksumOk(" + std::to_string(s) + ")");
        if (s >= sectors.size() || !sectors[s].checksumCallOk)
            return 0;
        *ok = sectors[s].checksumOk;
        return 1;
    }
    std::int32_t GetBootSector(std::uint8_t* s) override {
        record("GetBootSector");
        if (!bootOk)
            return 0;
        *s = bootSector;
        return 1;
    }

    std::int32_t EraseSector(std::uint8_t s) override {
        record("EraseSector(" + std::to_string(s) + ")");
        if (onErase)
            onErase(s);
        if (eraseFailures > 0) {
            --eraseFailures;
            SetLastError(eraseFailureError);
            return 0;
        }
        std::lock_guard lock(mutex_);
        written_.clear();
        if (s < sectors.size()) {
            sectors[s].description = EmptyDescription();
            sectors[s].checksumOk = 0; // an erased sector has no checksum
        }
        return 1;
    }
    std::int32_t DownloadFirmware(std::uint8_t s, std::uint32_t address, std::uint8_t length,
                                  const std::uint8_t* data) override {
        int index;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(downloads_.size());
            downloads_.push_back({s, address, length});
        }
        if (onDownload)
            onDownload(index);
        if (index == failDownloadAt)
            return 0;
        std::lock_guard lock(mutex_);
        for (unsigned i = 0; i < length; ++i)
            written_[address + i] = data[i];
        return 1;
    }
    std::int32_t UploadFirmware(std::uint8_t s, std::uint32_t address, std::uint8_t length,
                                std::uint8_t* data) override {
        int index;
        {
            std::lock_guard lock(mutex_);
            index = static_cast<int>(uploads_.size());
            uploads_.push_back({s, address, length});
        }
        if (onUpload)
            onUpload(index);
        if (!readBackSupported || index == failUploadAt)
            return 0;
        std::lock_guard lock(mutex_);
        for (unsigned i = 0; i < length; ++i) {
            auto it = written_.find(address + i);
            data[i] = it == written_.end() ? 0xFF : it->second;
        }
        if (index == corruptUploadAt && length > 0)
            data[length - 1] ^= 0x01;
        return 1;
    }
    std::int32_t SetSectorChecksum(std::uint8_t s) override {
        record("SetSectorChecksum(" + std::to_string(s) + ")");
        if (!checksumWriteOk)
            return 0;
        // The node checks what it was sent and vouches for the checksum, unless the test
        // says it finds them apart.
        if (s < sectors.size())
            sectors[s].checksumOk = checksumConfirmed ? 1 : 0;
        return 1;
    }
    std::int32_t SetBootSector(std::uint8_t s) override {
        record("SetBootSector(" + std::to_string(s) + ")");
        if (!setBootOk)
            return 0;
        bootSector = s;
        return 1;
    }
    std::int32_t ExecuteSector(std::uint8_t s) override {
        record("ExecuteSector(" + std::to_string(s) + ")");
        return executeOk ? 1 : 0;
    }
    std::int32_t Reset() override {
        record("Reset");
        return resetOk ? 1 : 0;
    }

    std::int32_t GoOnline() override {
        record("GoOnline");
        return goOnlineOk ? 1 : 0;
    }
    std::int32_t GoOffline() override {
        record("GoOffline");
        if (onGoOffline)
            onGoOffline();
        return 1;
    }
    std::int32_t StartBrowse() override {
        record("StartBrowse");
        return 1;
    }
    std::int32_t StopBrowse() override {
        record("StopBrowse");
        return 1;
    }
    std::int32_t GetBrowseTime(std::uint32_t* ms) override {
        record("GetBrowseTime");
        if (!browseTimeOk)
            return 0;
        *ms = browseTime;
        return 1;
    }
    std::int32_t GetMaxNodes(std::uint16_t* count) override {
        *count = maxNodes;
        return 1;
    }
    // Polls are counted, not recorded: they come every 100 ms.
    std::int32_t UpdateNodesOnline(std::uint32_t* changed) override {
        ++polls;
        if (!pollOk)
            return 0;
        *changed = alwaysChanged ? 1 : 0;
        for (int n = 0; n < MaxNodeAddresses && !alwaysChanged; ++n)
            if (Online[n] != OnlinePrevious[n]) {
                OnlinePrevious[n] = Online[n].load();
                *changed = 1;
            }
        return 1;
    }
    std::string GetNodeString(std::uint8_t n) override { return std::to_string(n); }
    std::string GetVendor(std::uint8_t) override { return "Vendor"; }
    std::string GetDeviceType(std::uint8_t) override { return "12"; }
    std::string GetProductCode(std::uint8_t n) override { return "P" + std::to_string(n); }
    std::string GetRevision(std::uint8_t) override { return "1.2"; }
    std::string GetSerialNumber(std::uint8_t n) override { return "S" + std::to_string(n); }
    std::string GetProductName(std::uint8_t n) override { return "Node " + std::to_string(n); }
    std::string GetBaudRateString() override { return baudRate; }
    std::string GetNodeIdString() override { return nodeId; }
    std::int32_t GetInterfaceConfig(InterfaceConfigRecord* c) override {
        if (!configOk)
            return 0;
        *c = config;
        return 1;
    }
    std::int32_t GetInterfaceName(char* text) override {
        if (!interfaceNameOk)
            return 0;
        std::strcpy(text, interfaceName.c_str());
        return 1;
    }
    std::int32_t ReadConfiguration(const char* key) override {
        record(std::string("ReadConfiguration(") + key + ")");
        return 1;
    }
    std::int32_t SaveConfiguration(const char* key) override {
        record(std::string("SaveConfiguration(") + key + ")");
        return 1;
    }
    std::int32_t ConfigurationWindow() override {
        record("ConfigurationWindow");
        return configurationAccepted ? 1 : 0;
    }
    std::int32_t VersionInformationWindow() override {
        record("VersionInformationWindow");
        return 0;
    }

    std::atomic<int> polls{0};

protected:
    void record(const std::string& call) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(call);
            cursors_.push_back(Application->ScreenCursor());
        }
        if (onCall)
            onCall(call);
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<TCursor> cursors_;
    std::vector<Block> downloads_;
    std::vector<Block> uploads_;
    std::map<std::uint32_t, std::uint8_t> written_;
};
