// Guards for the run's globals a test changes: the trace switch ("/d"), the current
// complex and the current scenario entry. Each sets its global for the guard's
// lifetime and puts back what was there before, however the test ends.
#pragma once

#include "app/Complex.h"
#include "config/Configuration.h"

namespace vetlina::test {

class ScopedTrace {
public:
    explicit ScopedTrace(bool on) : saved_(traceSwitch().load()) { traceSwitch() = on; }
    ~ScopedTrace() { traceSwitch() = saved_; }
    ScopedTrace(const ScopedTrace&) = delete;
    ScopedTrace& operator=(const ScopedTrace&) = delete;

private:
    bool saved_;
};

class ScopedCurrentComplex {
public:
    explicit ScopedCurrentComplex(Complex* complex) : saved_(currentComplex()) {
        setCurrentComplex(complex);
    }
    ~ScopedCurrentComplex() { setCurrentComplex(saved_); }
    ScopedCurrentComplex(const ScopedCurrentComplex&) = delete;
    ScopedCurrentComplex& operator=(const ScopedCurrentComplex&) = delete;

    void set(Complex* complex) { setCurrentComplex(complex); }

private:
    Complex* saved_;
};

class ScopedCurrentEntry {
public:
    explicit ScopedCurrentEntry(ScenarioEntry* entry) : saved_(currentEntry()) {
        setCurrentEntry(entry);
    }
    ~ScopedCurrentEntry() { setCurrentEntry(saved_); }
    ScopedCurrentEntry(const ScopedCurrentEntry&) = delete;
    ScopedCurrentEntry& operator=(const ScopedCurrentEntry&) = delete;

    void set(ScenarioEntry* entry) { setCurrentEntry(entry); }

private:
    ScenarioEntry* saved_;
};

} // namespace vetlina::test
