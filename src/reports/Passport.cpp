#include "reports/Passport.h"

#include "platform/Cp1251.h"
#include "scenario/ScenarioEntry.h"

#include <cstdio>

namespace vetlina {
namespace {

std::string percent(float value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f%%", static_cast<double>(value));
    return buffer;
}

std::string centred(const std::string& value) {
    return "<td align=center>" + value + "</td>";
}

} // namespace

bool passportDue(const ScenarioEntry& e) {
    if (!e.Analog || !e.sinSumPrcOn || !e.o132SNROn || !e.o132JitPhOn || !e.mttAttOn)
        return false;
    return e.ComplexType != kFullComplexType ||
           (e.SinTime.get() >= 1.0 && e.O132Time.get() >= 1.0 && e.MTTSTime.get() >= 1.0);
}

std::vector<std::string> passportLines(const PassportFacts& f) {
    const PassportClasses& c = f.classes;
    const ClassPair electrical = c.electrical();
    const std::string twoRows = "<tr align=center><td>"_cp;
    std::vector<std::string> lines;
    lines.reserve(33);
    lines.push_back("<div class=\"pasport\">");
    lines.push_back("<p align=right>Оператор связи: "_cp + f.parties.caller.user);
    lines.push_back("<h4 align=center>ПАСПОРТ"_cp);
    lines.push_back("<br>Телефонных каналов направления "_cp + f.parties.caller.ident + " - " +
                    f.parties.answerer.ident);
    lines.push_back("<br>местных, внутризоновых, междугородной сетей ТфОП"_cp);
    lines.push_back("<br>(ненужное зачеркнуть)</h4>"_cp);
    lines.push_back("<p align=right>Таблица 1П"_cp);
    lines.push_back("<table border=\"1\" cellpadding=\"4\" width=\"100%\">");
    lines.push_back(
        "<tr><td rowspan=\"2\">Тип станции</td><td align=center>исх</td><td align=center>"_cp +
        f.parties.caller.station + "</td>");
    lines.push_back("<tr align=center><td>вх</td><td>"_cp + f.parties.answerer.station + "</td>");
    lines.push_back("<tr><td>Дата</td><td>&nbsp</td>"_cp + centred(formatDate(f.at)));
    lines.push_back("<tr><td>Количество сеансов</td><td>&nbsp</td>"_cp +
                    centred(std::to_string(f.sessionsDone)));
    lines.push_back("<tr><td rowspan=\"2\">Класс качества по электрическим "
                    "параметрам</td><td align=center>исх-вх</td>"_cp +
                    centred(classText(electrical.b)));
    lines.push_back("<tr align=center><td>вх-исх</td><td>"_cp + classText(electrical.a) + "</td>");
    lines.push_back("<tr><td rowspan=\"2\">Класс качества передачи данных</td><td "
                    "align=center>исх-вх</td>"_cp +
                    centred(classText(c.data.b)));
    lines.push_back("<tr align=center><td>вх-исх</td><td>"_cp + classText(c.data.a) + "</td>");
    lines.push_back("</table>");
    lines.push_back("<p align=right>Таблица 2П"_cp);
    lines.push_back("<table border=\"1\" cellpadding=\"4\" width=\"100%\">");
    lines.push_back("<tr><th align=left rowspan=\"2\">Наименование параметра</th><th "
                    "colspan=\"2\">Класс качества</th>"_cp);
    lines.push_back("<tr><th>исх-вх</th><th>вх-исх</th>"_cp);
    const auto pairRow = [&](const char* name, const ClassPair& p) {
        return "<tr><td>"_cp + toCp1251(name) + "</td>" + centred(classText(p.b)) +
               centred(classText(p.a));
    };
    lines.push_back(pairRow("1. Остаточное затухание на частоте 1000 (1020) Гц", c.attenuation));
    lines.push_back("<tr><td rowspan=\"2\">2. АЧХ на частотах 1800 / 2400 Гц</td>"_cp +
                    centred(classText(c.afc1800.b)) + centred(classText(c.afc1800.a)));
    lines.push_back(twoRows + classText(c.afc2400.b) + "</td><td>" + classText(c.afc2400.a) +
                    "</td>");
    lines.push_back(pairRow("3. Соотношение сигнал/шум", c.snr));
    lines.push_back(pairRow("4. Размах дрожания фазы передаваемого сигнала (джиттер)", c.jitter));
    lines.push_back(pairRow("5. Суммарное воздействие импульсных помех и кратковременных перерывов",
                            c.impulse));
    const auto callRow = [&](const char* name, float value) {
        return "<tr><td>"_cp + toCp1251(name) + "</td><td align=center colspan=\"2\">" +
               percent(value) + "</td>";
    };
    lines.push_back(callRow("6. НУС", f.calls.busy));
    lines.push_back(callRow("7. НУВ", f.calls.carr));
    lines.push_back(callRow("8. Отб.", f.calls.brk));
    lines.push_back("</table><br>");
    lines.push_back("<p align=center><a href=\"Stat.htm#" + formatStamp(f.at) +
                    "\">Составлен по статистике измерений "_cp + formatDateTime(f.at) + "</a>\r\n");
    lines.push_back("</div>");
    return lines;
}

std::string summaryRow(const PassportFacts& f) {
    const PassportClasses& c = f.classes;
    const ClassPair electrical = c.electrical();
    std::string row = "<tr align=center><td align=left nowrap>" + f.parties.caller.city + "-" +
                      f.parties.answerer.city + "</td>\r\n";
    for (const std::string* value : {&f.number, &f.parties.caller.ident, &f.parties.answerer.ident,
                                     &f.parties.caller.station, &f.parties.answerer.station})
        row += "<td nowrap>" + *value + "</td>";
    row += "<td><a href=\"" + f.ownIdent + "\\" + "Pasp.htm#" + formatStamp(f.at) + "\">" +
           formatDate(f.at) + "</a></td>\r\n";
    const auto cell = [&row](const std::string& value) { row += "<td>" + value + "</td>"; };
    cell(std::to_string(f.sessionsDone));
    for (const ClassPair* p : {&electrical, &c.data, &c.attenuation, &c.afc1800, &c.afc2400, &c.snr,
                               &c.jitter, &c.impulse}) {
        cell(classText(p->b));
        cell(classText(p->a));
    }
    cell(percent(f.calls.busy));
    cell(percent(f.calls.carr));
    cell(percent(f.calls.brk));
    row += "\r\n</table>";
    return row;
}

} // namespace vetlina
