#include "scenario/ScenarioFiles.h"

#include "platform/Cp1251.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vetlina {
namespace {

// The system's text for an error code.
std::string systemErrorText(int error) {
    if (error == 0)
        error = EIO;
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

FileReadResult failure(FileStatus status, int error = 0) {
    FileReadResult result;
    result.status = status;
    result.error = error;
    return result;
}

void showError(Dialogs& dialogs, const std::string& title, const std::string& text) {
    dialogs.showMessage(title, text, DialogIcon::Error);
}

std::string cannotOpenText(const std::string& path, int error) {
    return "Не удалось открыть файл "_cp + toCp1251(path) + ": " + systemErrorText(error);
}

std::string cannotReadText(const std::string& path, int error) {
    return "Ошибка чтения файла "_cp + toCp1251(path) + ": " + systemErrorText(error);
}

std::string cannotWriteText(const std::string& path, int error) {
    return "Не удалось записать файл "_cp + toCp1251(path) + ": " + systemErrorText(error);
}

// Writes bytes over path atomically; false with the system's error code.
bool replaceFile(const std::string& path, const std::string& bytes, int& error) {
    errno = 0;
    if (atomicReplace(path, bytes))
        return true;
    error = errno;
    return false;
}

// The image of a file to be saved; false when there is no room for it.
template <typename Make>
bool buildImage(std::string& image, Make make) {
    try {
        image = make();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

} // namespace

FileReadResult scenarioFromImage(std::string_view image, EntryArray& entries) {
    if (image.size() < kMarkSize || image.substr(0, kMarkSize) != kScenarioMark)
        return failure(FileStatus::WrongMark);
    if (image.size() < kScenarioHeaderSize)
        return failure(FileStatus::Truncated);

    FileReadResult result;
    result.count = loadLe<int32_t>(image.data() + kMarkSize);
    if (result.count < 0) {
        result.status = FileStatus::NegativeCount;
        return result;
    }
    // The records must be in the file before room is taken for them.
    const int64_t size = static_cast<int64_t>(image.size());
    const int64_t need = static_cast<int64_t>(result.count) * static_cast<int64_t>(kEntrySize);
    if (size - static_cast<int64_t>(kScenarioHeaderSize) < need) {
        result.status = FileStatus::Truncated;
        return result;
    }

    EntryArray fresh;
    try {
        fresh.resize(static_cast<std::size_t>(result.count));
    } catch (const std::bad_alloc&) {
        result.status = FileStatus::NoMemory;
        return result;
    } catch (const std::length_error&) {
        result.status = FileStatus::NoMemory;
        return result;
    }
    if (need > 0)
        std::memcpy(static_cast<void*>(fresh.data()), image.data() + kScenarioHeaderSize,
                    static_cast<std::size_t>(need));
    result.extraBytes = size - static_cast<int64_t>(kScenarioHeaderSize) - need;
    entries.swap(fresh);
    return result;
}

FileReadResult templateFromImage(std::string_view image,
                                 std::span<unsigned char, kSettingsSize> settings) {
    if (image.size() < kMarkSize || image.substr(0, kMarkSize) != kTemplateMark)
        return failure(FileStatus::WrongMark);
    if (image.size() < kTemplateFileSize)
        return failure(FileStatus::Truncated);
    std::memcpy(settings.data(), image.data() + kMarkSize, kSettingsSize);
    FileReadResult result;
    result.extraBytes =
        static_cast<int64_t>(image.size()) - static_cast<int64_t>(kTemplateFileSize);
    return result;
}

FileReadResult readScenarioFile(const std::string& path, EntryArray& entries) {
    InputRead read = readInput(path);
    if (!read.ok())
        return failure(read.opened ? FileStatus::ReadFailed : FileStatus::CannotOpen, read.error);
    return scenarioFromImage(read.bytes, entries);
}

FileReadResult readTemplateFile(const std::string& path,
                                std::span<unsigned char, kSettingsSize> settings) {
    InputRead read = readInput(path);
    if (!read.ok())
        return failure(read.opened ? FileStatus::ReadFailed : FileStatus::CannotOpen, read.error);
    return templateFromImage(read.bytes, settings);
}

std::string scenarioFileImage(std::span<const ScenarioEntry> entries) {
    std::string image;
    image.reserve(kScenarioHeaderSize + entries.size() * kEntrySize);
    image.append(kScenarioMark);
    char count[4];
    storeLe<int32_t>(count, static_cast<int32_t>(entries.size()));
    image.append(count, sizeof count);
    image.append(reinterpret_cast<const char*>(entries.data()), entries.size() * kEntrySize);
    return image;
}

std::string templateFileImage(const ScenarioEntry& entry) {
    std::string image(kTemplateMark);
    image.append(reinterpret_cast<const char*>(bytesOf(entry)) + kSettingsOffset, kSettingsSize);
    return image;
}

std::string describe(const FileReadResult& result) {
    switch (result.status) {
    case FileStatus::Ok:
        return "ok";
    case FileStatus::CannotOpen:
        return "cannot open: " + inputErrorText(result.error);
    case FileStatus::ReadFailed:
        return "read error: " + inputErrorText(result.error);
    case FileStatus::WrongMark:
        return "wrong version mark";
    case FileStatus::NegativeCount:
        return "negative number of entries (" + std::to_string(result.count) + ")";
    case FileStatus::Truncated:
        return result.count > 0 ? "the file ends before its " + std::to_string(result.count) +
                                      " entries are complete"
                                : "the file is too short";
    case FileStatus::NoMemory:
        return "no memory for " + std::to_string(result.count) + " entries";
    }
    return "unknown failure";
}

bool loadScenario(Scenario& scenario, const std::string& path, Dialogs& dialogs) {
    EntryArray entries;
    FileReadResult result = readScenarioFile(path, entries);
    switch (result.status) {
    case FileStatus::Ok:
        break;
    case FileStatus::CannotOpen:
        showError(dialogs, "Ошибка"_cp, cannotOpenText(path, result.error));
        return false;
    case FileStatus::ReadFailed:
        showError(dialogs, "Ошибка"_cp, cannotReadText(path, result.error));
        return false;
    case FileStatus::NoMemory:
        showError(dialogs, "Ошибка"_cp, "Нет памяти для сценария"_cp);
        return false;
    case FileStatus::WrongMark:
    case FileStatus::NegativeCount:
    case FileStatus::Truncated:
        showError(dialogs, " Ошибка"_cp, "Несовместимый формат сценария"_cp);
        return false;
    }
    scenario.replaceEntries(std::move(entries));
    scenario.setFileName(path);
    scenario.setModified(false);
    return true;
}

bool saveScenario(Scenario& scenario, const std::string& path, Dialogs& dialogs) {
    std::string image;
    int error = ENOMEM;
    if (!buildImage(image, [&] { return scenarioFileImage(scenario.entries()); }) ||
        !replaceFile(path, image, error)) {
        showError(dialogs, "Ошибка"_cp, cannotWriteText(path, error));
        return false;
    }
    scenario.setFileName(path);
    scenario.setModified(false);
    return true;
}

bool loadTemplate(Scenario& scenario, const std::string& path, Dialogs& dialogs) {
    unsigned char settings[kSettingsSize];
    FileReadResult result = readTemplateFile(path, settings);
    switch (result.status) {
    case FileStatus::Ok:
        break;
    case FileStatus::CannotOpen:
        showError(dialogs, "Ошибка"_cp, cannotOpenText(path, result.error));
        return false;
    case FileStatus::ReadFailed:
        showError(dialogs, "Ошибка"_cp, cannotReadText(path, result.error));
        return false;
    default:
        showError(dialogs, "Ошибка"_cp, "Несовместимый формат шаблона"_cp);
        return false;
    }
    ScenarioEntry& current = scenario.current();
    std::memcpy(bytesOf(current) + kSettingsOffset, settings, kSettingsSize);
    if (scenario.lineSelected())
        scenario.markModified();
    current.Finished = 0;
    current.SessionsDone = 0;
    return true;
}

bool saveTemplate(const Scenario& scenario, const std::string& path, Dialogs& dialogs) {
    int error = 0;
    if (!replaceFile(path, templateFileImage(scenario.current()), error)) {
        showError(dialogs, "Ошибка"_cp, cannotWriteText(path, error));
        return false;
    }
    return true;
}

bool saveProgress(Scenario& scenario, const ProgressSaveFailed& onFailure) {
    if (scenario.fileName().empty())
        scenario.setFileName(kUnknownScenarioFile);
    std::string image;
    int error = 0;
    if (buildImage(image, [&] { return scenarioFileImage(scenario.entries()); }) &&
        replaceFile(scenario.fileName(), image, error))
        return true;
    if (onFailure)
        onFailure("Ошибка записи файла сценария"_cp);
    return false;
}

} // namespace vetlina
