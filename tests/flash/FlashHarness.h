#pragma once

// Runs zandrel-flash in the test's process as a script would, and reads what it printed.

#include "FlashRun.h"
#include "NodeRestartWaits.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct FlashResult {
    int status = -1;
    std::string out;
    std::string err;
    bool networkOpened = false;
};

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

// Runs zandrel-flash in this process with no terminal; the pauses of an update wait for the
// node being updated.
FlashResult flash(const std::string& line, FlashObserver observer = {}) {
    std::atomic<TFirmware_Downloader*> downloader{nullptr};
    WaitingSleep sleeps(NodeOfTheUpdate([&] { return downloader.load(); }));
    FlashResult result;
    std::ostringstream out, err;
    FlashStreams streams;
    streams.out = &out;
    streams.err = &err;
    auto watched = observer.downloader;
    observer.downloader = [&](TFirmware_Downloader* d) {
        downloader = d;
        if (d)
            result.networkOpened = true;
        if (watched)
            watched(d);
    };
    result.status = RunFlash(words(line), streams, observer);
    result.out = out.str();
    result.err = err.str();
    return result;
}

QJsonArray records(const FlashResult& result) {
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(result.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << result.out;
    return document.array();
}

std::string text(const QJsonValue& value) {
    return value.toString().toStdString();
}

} // namespace
