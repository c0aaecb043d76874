#include "reports/EvaluationRows.h"

#include "platform/Cp1251.h"
#include "platform/ValueMarks.h"
#include "reports/ConfidenceTables.h"
#include "reports/FormattedText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vetlina {
namespace {

// How a row is printed and when its values count as present.
enum class RowKind { Plain, Relative, GroupDelay };

struct LabelMarks {
    std::string relative = "отн."_cp;
    std::string groupDelay = "ГВП"_cp;
    std::string shift = "Сдвиг"_cp;
    std::string impedance = "импеданс"_cp;
};

const LabelMarks& marks() {
    static const LabelMarks m;
    return m;
}

bool contains(std::string_view text, const std::string& part) {
    return text.find(part) != std::string_view::npos;
}

RowKind kindOf(std::string_view label) {
    if (contains(label, marks().relative))
        return RowKind::Relative;
    if (contains(label, marks().groupDelay))
        return RowKind::GroupDelay;
    return RowKind::Plain;
}

int classOf(double mean, double deviation, NormSense sense, double norm, int sessionsDone) {
    const ConfidenceFactors f = confidenceFactors(sessionsDone);
    const double factors[3] = {f.f1, f.f2, f.f3};
    for (int i = 0; i < 3; ++i) {
        const bool within = sense == NormSense::Max ? mean + deviation * factors[i] <= norm
                                                    : mean - deviation * factors[i] >= norm;
        if (within)
            return i + 1;
    }
    return 4;
}

} // namespace

RowMoments rowMoments(const RowDirection& d) {
    RowMoments m;
    const double n = d.count;
    if (d.count == 0 || d.value.sum == kNotMeasured)
        return m;
    m.present = true;
    m.mean = d.value.sum / n;
    if (d.count > 1) {
        const double numerator = d.value.sumSq - n * m.mean * m.mean;
        if (numerator >= 0)
            m.deviation = std::sqrt(numerator / (n - 1));
    }
    return m;
}

RowClasses evaluateRow(EvaluationSheet& sheet, std::string_view label, bool selected,
                       const RowDirection& b, const RowDirection& a, NormSense sense, double norm) {
    RowClasses classes;
    if (!selected)
        return classes;
    const RowKind kind = kindOf(label);
    const bool absoluteMean = contains(label, marks().shift) || contains(label, marks().impedance);
    const bool normValid = kind == RowKind::Relative ? norm > 1e-10 : norm > kNoNormBound;
    const double presenceBound = kind == RowKind::GroupDelay ? -10000.0 : kMeasuredFloor;
    const char* valueFormat = kind == RowKind::Relative ? "%7.0e " : "%7.2f ";
    const char* momentsFormat =
        kind == RowKind::Relative ? "%7.0e%7.0e  %1d  " : "%7.2f%7.2f  %1d  ";
    const char* momentsNoClass = kind == RowKind::Relative ? "%7.0e%7.0e  *  " : "%7.2f%7.2f  *  ";

    std::string text(label);
    if (normValid)
        text += formattedText(kind == RowKind::Relative ? " %7.0e  " : " %7.2f  ", norm);
    else
        text += kind == RowKind::GroupDelay ? "   *****  " : "    ****  ";

    bool broken = false;
    const RowDirection* directions[2] = {&b, &a};
    int* rowClass[2] = {&classes.b, &classes.a};
    for (int i = 0; i < 2; ++i) {
        const RowDirection& d = *directions[i];
        const double last = d.value.last;
        const bool lastPresent = last > presenceBound;
        text += lastPresent ? formattedText(valueFormat, last) : std::string("   **** ");

        const RowMoments m = rowMoments(d);
        if (normValid && d.count >= 2) {
            const double classed = absoluteMean ? std::fabs(m.mean) : m.mean;
            *rowClass[i] = classOf(classed, m.deviation, sense, norm, sheet.sessionsDone);
        }
        if (!m.present)
            text += i == 0 ? "   ****   ****  *  " : "   ****   ****  *";
        else if (*rowClass[i] == 0)
            text += formattedText(momentsNoClass, m.mean, m.deviation);
        else
            text += formattedText(momentsFormat, m.mean, m.deviation, *rowClass[i]);

        if (normValid && lastPresent) {
            if (kind == RowKind::GroupDelay || sense == NormSense::Max)
                broken = broken || last > norm;
            else
                broken = broken || last < norm;
        }
    }
    sheet.sessionClass = std::max({sheet.sessionClass, classes.b, classes.a});
    sheet.statLines.push_back(text);
    if (broken) {
        sheet.parLines.push_back(text);
        sheet.normFailed = true;
    }
    return classes;
}

} // namespace vetlina
