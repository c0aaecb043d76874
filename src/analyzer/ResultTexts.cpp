// The lines of the results window for each measurement kind, in code page 1251, with
// the C formats of the system (so "%6.0e" shows 1e-05 as " 1e-05").
#include "analyzer/Results.h"
#include "platform/Cp1251.h"
#include "platform/ValueMarks.h"

#include <cstdarg>
#include <cstdio>

namespace vetlina {

namespace {

// A line from a UTF-8 format with printf semantics, as code page 1251.
std::string line(const char* utf8Format, ...) {
    const std::string format = toCp1251(utf8Format);
    char buffer[512];
    va_list args;
    va_start(args, utf8Format);
    std::vsnprintf(buffer, sizeof buffer, format.c_str(), args);
    va_end(args);
    return buffer;
}

// Values as printf takes them.
double d(float v) {
    return static_cast<double>(v);
}
double d(const Le<float>& v) {
    return static_cast<double>(v.get());
}
int n(const Le<int32_t>& v) {
    return v.get();
}
long counterOf(const Le<int32_t>& c) {
    return static_cast<long>(c.get());
}

std::vector<std::string> sineLines(const SineResult& r, const MeterOutputs& out,
                                   const ResultContext& ctx) {
    // Harmonics above the 3400 Hz band edge are not measured: from 1701 Hz for the 2nd
    // harmonic and the sum, from 1134 Hz for the 3rd.
    const double f = ctx.nominalSineFrequency();
    const bool no2 = 2.0 * f > 3400.0;
    const bool no3 = 3.0 * f > 3400.0;
    const auto& ev = out.events;
    std::vector<std::string> lines;
    lines.push_back(line("Уровень............%6.1f дБм    Частота............%6.1f Гц", d(r.level),
                         d(r.frequency)));
    lines.push_back(
        line("Сигнал/Шум.........%6.1f дБ     Импульсные помехи..%6d шт.", d(r.snr), n(r.pulCnt)));
    lines.push_back(line("Сигнал/Шум псоф....%6.1f дБ     - %% испорч.сек.....%6.1f %%", d(r.snrPs),
                         d(r.pulPrc)));
    lines.push_back(
        line("Дрожание фазы......%6.1f град.  - относит.время....%6.0e", d(r.jitPh), d(r.pulRel)));
    lines.push_back(line("Дрожание уровня....%6.1f %%      Перерывы связи.....%6d шт.", d(r.jitAm),
                         n(r.intCnt)));
    lines.push_back(line("Сдвиг частоты......%6.1f Гц     - %% испорч.сек.....%6.1f %%", d(r.shift),
                         d(r.intPrc)));
    lines.push_back(
        line("Затухание..........%6.1f дБ     - относит.время....%6.0e", d(r.att), d(r.intRel)));
    if (no2)
        lines.push_back(
            line("2-я гармоника......   *** %%      Помехи и перерывы..%6d шт.", n(r.sumCnt)));
    else
        lines.push_back(line("2-я гармоника......%6.1f %%      Помехи и перерывы..%6d шт.",
                             d(r.dis2), n(r.sumCnt)));
    if (no3)
        lines.push_back(
            line("3-я гармоника......   *** %%      - %% испорч.сек.....%6.1f %%", d(r.sumPrc)));
    else
        lines.push_back(line("3-я гармоника......%6.1f %%      - %% испорч.сек.....%6.1f %%",
                             d(r.dis3), d(r.sumPrc)));
    if (no2)
        lines.push_back(
            line("2+3 гармоники......   *** %%      - относит.время....%6.0e", d(r.sumRel)));
    else
        lines.push_back(line("2+3 гармоники......%6.1f %%      - относит.время....%6.0e",
                             d(r.dis23), d(r.sumRel)));
    lines.push_back(
        line("Скачки фазы........%6d шт.    Скачки уровня......%6d шт.", n(r.hitPh), n(r.hitAm)));
    lines.push_back(line("Паразит. модуляции.%6.1f дБ     Счётчик............%6ld",
                         d(parasiticModulation(r)), counterOf(r.counter)));
    lines.emplace_back();
    lines.push_back(
        line("      Пороги: Скачки фазы....%6.1f град", d(ev[event::PhaseJumpThreshold])));
    lines.push_back(
        line("              Скачки уровня..%6.1f дБ", d(ev[event::LevelJumpThreshold])));
    lines.push_back(line("              Имп.помехи.....%6.1f дБм", d(ev[event::PulseThreshold])));
    lines.push_back(
        line("              Перерывы.......%6.1f дБм", d(ev[event::InterruptionThreshold])));
    return lines;
}

std::vector<std::string> o132Lines(const O132Result& r) {
    return {line("Уровень..........%6.1f дБм", d(r.level)),
            line("Частота..........%6.1f Гц", d(r.frequency)),
            line("Сигнал/Шум.......%6.1f дБ", d(r.snr)),
            line("Сигнал/Шум псоф..%6.1f дБ", d(r.snrPs)),
            line("Дрожание фазы....%6.1f град.", d(r.jitPh)),
            line("Дрожание уровня..%6.1f %%", d(r.jitAm)),
            line("Сдвиг частоты....%6.1f Гц", d(r.shift)),
            line("Счётчик..........%6ld", counterOf(r.counter))};
}

std::vector<std::string> mttsLines(const MttsResult& r, const ResultContext& ctx) {
    // Attenuation relative to the reference frequency, or absolute against the far
    // generator's level; group delay relative to the reference frequency.
    const double a = ctx.attNotch >= 100.0
                         ? -interpolateAtReference(r.freq, r.att, ctx.attNotch, false)
                         : ctx.farMttsLevel();
    const double g =
        ctx.delNotch >= 100.0 ? -interpolateAtReference(r.freq, r.del, ctx.delNotch, false) : 0.0;
    std::vector<std::string> lines;
    lines.push_back(line("Уровень..................%6.1f дБм", d(r.level)));
    lines.emplace_back();
    lines.push_back(line("Частота,Гц  АЧХ,дБ  ГВП,мкс       Частота,Гц  АЧХ,дБ  ГВП,мкс"));
    for (int i = 0; i < 19; ++i) {
        const int j = i + 19;
        lines.push_back(line("%6.0f     %6.1f %8.1f        %6.0f     %6.1f %8.1f", d(r.freq[i]),
                             d(r.att[i]) + a, (d(r.del[i]) + g) * 1000.0, d(r.freq[j]),
                             d(r.att[j]) + a, (d(r.del[j]) + g) * 1000.0));
    }
    lines.push_back(line("Счётчик....%6ld", counterOf(r.counter)));
    return lines;
}

std::vector<std::string> impedanceLines(const ImpedanceResult& r) {
    std::vector<std::string> lines;
    lines.push_back(
        line("Частота,Гц Откл.имп.,Ом Ёмкость,нФ     Частота,Гц Откл.имп.,Ом Ёмкость,нФ"));
    for (int i = 0; i < 19; ++i) {
        const int j = i + 19;
        lines.push_back(line("%6.0f       %7.1f     %6.1f        %6.0f       %7.1f     %6.1f",
                             d(r.freq[i]), d(r.imped[i]), d(r.capac[i]) * 1000.0, d(r.freq[j]),
                             d(r.imped[j]), d(r.capac[j]) * 1000.0));
    }
    lines.push_back(line("Счётчик.......%6ld", counterOf(r.counter)));
    return lines;
}

} // namespace

std::vector<std::string> ResultLines(ResultKind kind, const LiveResults& results,
                                     const MeterComputation& meter, const ResultContext& context) {
    switch (kind) {
    case ResultKind::Sine: {
        static const MeterOutputs missing = [] {
            MeterOutputs o;
            o.events.fill(kNotMeasured);
            return o;
        }();
        return sineLines(results.sine, meter.hasWorkingMemory() ? meter.out() : missing, context);
    }
    case ResultKind::O132:
        return o132Lines(results.o132);
    case ResultKind::O131:
        return {line("Уровень......%6.1f дБм", d(results.o131.level)),
                line("Сигнал/Шум...%6.1f дБ", d(results.o131.snr)),
                line("Счётчик......%6ld", counterOf(results.o131.counter))};
    case ResultKind::Mtts:
        return mttsLines(results.mtts, context);
    case ResultKind::O42:
        return {line("Уровень...............%6.1f дБм", d(results.o42.level)),
                line("Продукт 2-го порядка..%6.1f %%", d(results.o42.dis2)),
                line("Продукт 3-го порядка..%6.1f %%", d(results.o42.dis3)),
                line("Сумма продуктов.......%6.1f %%", d(results.o42.dis23)),
                line("Счётчик...............%6ld", counterOf(results.o42.counter))};
    case ResultKind::Impedance:
        return impedanceLines(results.impedance);
    case ResultKind::Noise:
        return {line("Уровень шума........%6.1f дБм", d(results.noise.noise)),
                line("Уровень шума псоф...%6.1f дБм", d(results.noise.noisePs)),
                line("Селективная помеха..%6.1f дБм", d(selectiveInterference(results.noise))),
                line("Счётчик.............%6ld", counterOf(results.noise.counter))};
    case ResultKind::TalkerEcho:
        return {line("Эхо говорящего...%6.1f дБ", d(results.talkerEcho.echo)),
                line("Счётчик..........%6ld", counterOf(results.talkerEcho.counter))};
    case ResultKind::ListenerEcho:
        return {line("Эхо слушающего...%6.1f дБ", d(results.listenerEcho.echo)),
                line("Счётчик..........%6ld", counterOf(results.listenerEcho.counter))};
    }
    return {};
}

} // namespace vetlina
