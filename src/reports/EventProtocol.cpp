#include "reports/EventProtocol.h"

#include "platform/Clock.h"
#include "platform/Cp1251.h"

#include <cstdio>

namespace vetlina {

std::string protocolHeader(const ProtocolHeader& h) {
    char serial[16], firmware[16];
    std::snprintf(serial, sizeof serial, "%hd", h.analyzerSerial);
    std::snprintf(firmware, sizeof firmware, "%hd", h.analyzerFirmware);
    std::string text = "<h3 align=center>Протокол работы комплекса "_cp;
    text += h.ident;
    text += " от "_cp;
    text += formatDate(h.runStartTime);
    text += "</h3><pre>СПО ЛИРС V2M50"_cp;
    text += "\r\nCom";
    text += std::to_string(h.modemPort);
    text += ": Модем "_cp;
    text += h.modemIdentification;
    text += "\r\nCom";
    text += std::to_string(h.analyzerPort);
    text += ": Анализатор Kerat ZMK-5 Сер.номер "_cp;
    text += serial;
    text += " F.";
    text += firmware;
    text += "</pre><p>";
    text += formatTime(h.runStartTime);
    text += ' ';
    text += h.startText;
    return text;
}

bool ProtocolDocument::open(const std::string& path, const std::string& header) {
    std::lock_guard lock(mutex_);
    file_.close();
    bool created = false;
    if (!fileExists(path)) {
        File fresh = File::open(path, File::Mode::CreateExclusive);
        if (fresh.isOpen()) {
            created = true;
            if (!fresh.writeAll(kProtocolFileHead) || !fresh.sync()) {
                fresh.close();
                removeFile(path);
                return false;
            }
        }
    }
    File file = File::open(path, File::Mode::ReadWrite);
    // Another program writing the document holds its lock: leave its file alone.
    if (!file.isOpen() || !file.lockForWriting())
        return false;
    int64_t headerStart = file.seekToEnd() ? file.position() : -1;
    if (headerStart < 0 || !file.writeAll(header) || !file.sync()) {
        if (headerStart >= 0 && file.seek(headerStart))
            file.truncateHere();
        file.close();
        if (created)
            removeFile(path);
        return false;
    }
    file_ = std::move(file);
    return true;
}

bool ProtocolDocument::append(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (bytes.empty() || !file_.isOpen())
        return true;
    int64_t lineStart = file_.position();
    if (file_.writeAll(bytes) && file_.sync())
        return true;
    if (lineStart >= 0 && file_.seek(lineStart))
        file_.truncateHere();
    return false;
}

bool ProtocolDocument::isOpen() const {
    std::lock_guard lock(mutex_);
    return file_.isOpen();
}

void ProtocolDocument::close() {
    std::lock_guard lock(mutex_);
    file_.close();
}

} // namespace vetlina
