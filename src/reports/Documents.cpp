#include "reports/Documents.h"

#include "config/Configuration.h"
#include "platform/Cp1251.h"
#include "scenario/ScenarioEntry.h"

namespace vetlina {

std::string resultsHead(std::string_view ident) {
    return "<html>\r\n<h3 align=center>Результаты измерений комплекса "_cp + std::string(ident) +
           "</h3>\r\n";
}

std::string statisticsHead(std::string_view ident) {
    return "<html>\r\n<h3 align=center>Статистика измерений комплекса "_cp + std::string(ident) +
           "</h3>\r\n";
}

std::string passportsHead() {
    return "<html>\r\n<style type=\"text/css\">\r\n div.pasport { page-break-after: always "
           "}\r\n</style>\r\n";
}

std::string summaryHead() {
    static const char* const parts[] = {
        "<html>\r\n<h3 align=center>Сводная таблица паспортов измерений</h3>\r\n",
        "<table border=\"1\" cellpadding=\"2\">\r\n",
        "<tr><th rowspan=\"2\">Направление связи</th>\r\n",
        "<th rowspan=\"2\">Телефонный номер</th>\r\n",
        "<th colspan=\"2\">Идентификатор</th>\r\n",
        "<th colspan=\"2\">Тип станции</th>\r\n",
        "<th rowspan=\"2\">Дата</th>\r\n",
        "<th rowspan=\"2\">Сеан-сов</th>\r\n",
        "<th colspan=\"2\">Класс по электрич. параметрам</th>\r\n",
        "<th colspan=\"2\">Класс передачи данных</th>\r\n",
        "<th colspan=\"2\">Затухание на 1000(1020)Гц</th>\r\n",
        "<th colspan=\"2\">АЧХ на 1800Гц</th>\r\n",
        "<th colspan=\"2\">АЧХ на 2400Гц</th>\r\n",
        // The first letter of "Cигнал" is the Latin capital C, as the table has always had it.
        "<th colspan=\"2\">Cигнал/ Шум</th>\r\n",
        "<th colspan=\"2\">Дрожание фазы</th>\r\n",
        "<th colspan=\"2\">Помехи и перерывы</th>\r\n",
        "<th rowspan=\"2\">НУС, %</th><th rowspan=\"2\">НУВ, %</th><th rowspan=\"2\">Отб. "
        "%</th>\r\n",
        "<tr><th>исх</th><th>вх</th><th>исх</th><th>вх</th><th>исх</th><th>вх</th><th>исх</th><th>"
        "вх</th>\r\n",
        "<th>исх</th><th>вх</th><th>исх</th><th>вх</th><th>исх</th><th>вх</th><th>исх</th><th>вх</"
        "th>\r\n",
        "<th>исх</th><th>вх</th><th>исх</th><th>вх</th>\r\n",
    };
    std::string head;
    for (const char* part : parts)
        head += toCp1251(part);
    head += kSummaryTableEnd;
    return head;
}

SessionParties sessionParties(const SessionParty& own, SessionParty peer,
                              const ScenarioEntry* entry, bool calling) {
    if (peer.ident.empty() && calling && entry != nullptr)
        peer.ident = std::string(textOf(entry->Id));
    return calling ? SessionParties{own, peer} : SessionParties{peer, own};
}

std::string sessionHeading(DateTime cycleStart, std::string_view caller, std::string_view answerer,
                           std::string_view number) {
    return formatDateTime(cycleStart) + " " + " &nbsp " + std::string(caller) + "-" +
           std::string(answerer) + " тел: "_cp + std::string(number);
}

std::string classText(int qualityClass) {
    return qualityClass >= 1 && qualityClass <= 4 ? std::to_string(qualityClass) : "&nbsp";
}

void makeDocumentFolders(std::string_view ident) {
    makeFolder("Prot");
    makeFolder(identFolder(ident));
}

File openReportDocument(const std::string& path, std::string_view head) {
    bool created = false;
    if (!fileExists(path)) {
        File fresh = File::open(path, File::Mode::CreateExclusive);
        if (fresh.isOpen()) {
            created = true;
            if (!fresh.writeAll(head) || !fresh.sync()) {
                fresh.close();
                removeFile(path);
                return File();
            }
        }
    }
    File file = File::open(path, File::Mode::ReadWrite);
    if (!file.isOpen() || !file.lockForWriting())
        return File();
    if (!file.seekToEnd()) {
        file.close();
        if (created)
            removeFile(path);
        return File();
    }
    return file;
}

} // namespace vetlina
