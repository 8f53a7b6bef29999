// How long each kind of mark and gap lasts, as probabilities over whole steps
// of the sequence decoder: log-normal around what the sender was heard to do,
// wide enough for a hand's uneven timing. A word gap has no upper end: past
// its usual length it goes on as a pause.
#ifndef CW_DURATION_MODEL_H
#define CW_DURATION_MODEL_H

#include <array>
#include <cstddef>
#include <vector>

namespace rz::cw {

// How long a sender's elements and gaps last, in baseband samples.
struct KeyingTimes {
    double dot;
    double dash;
    double elementGap;
    double charGap;
    double wordGap;
};

// Standard spacing around this dot.
KeyingTimes StandardTimes(double dotSamples);

enum class Duration { kDot, kDash, kElementGap, kCharGap, kWordGap };

class DurationModel {
public:
    static constexpr int kKinds = 5;
    static constexpr double kImpossible = -1e30;

    // Steps of `stepSamples` baseband samples around the sender's `times`.
    void Set(const KeyingTimes& times, double stepSamples);

    int MinSteps(Duration kind) const { return StepsOf(kind).minSteps; }
    int MaxSteps(Duration kind) const { return StepsOf(kind).maxSteps; }
    // log P(lasts exactly `steps`); for a word gap only up to MaxSteps.
    double LogPmf(Duration kind, int steps) const
    {
        const Steps& table = StepsOf(kind);
        if (steps < table.minSteps || steps > table.maxSteps)
            return kImpossible;
        return table.logPmf[static_cast<size_t>(steps - table.minSteps)];
    }
    // log P(lasts `steps` or longer), which an unfinished segment has shown so far.
    double LogSurvival(Duration kind, int steps) const
    {
        const Steps& table = StepsOf(kind);
        if (steps <= table.minSteps)
            return 0.0;
        if (steps > table.maxSteps)
            return kind == Duration::kWordGap ? m_logPauseStart : kImpossible;
        return table.logSurvival[static_cast<size_t>(steps - table.minSteps)];
    }
    // A word gap longer than MaxSteps: log P(it gets that far), and per further step.
    double LogPauseStart() const { return m_logPauseStart; }
    double LogPauseStep() const { return m_logPauseStep; }

private:
    struct Steps {
        int minSteps = 1;
        int maxSteps = 1;
        std::vector<double> logPmf;       // from minSteps to maxSteps
        std::vector<double> logSurvival;  // from minSteps to maxSteps
    };
    const Steps& StepsOf(Duration kind) const { return m_tables[static_cast<size_t>(kind)]; }

    std::array<Steps, kKinds> m_tables;
    double m_logPauseStart = 0.0;
    double m_logPauseStep = 0.0;
};

}  // namespace rz::cw

#endif
