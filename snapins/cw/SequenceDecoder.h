// Reads Morse from the keying as a whole: the most likely sequence of marks
// and gaps that spells characters of the alphabet, given what was heard. The
// signal comes in steps of a quarter dot; every possible segmentation into dots,
// dashes and the three gaps is weighed at once by how well each mark's energy
// stands above the noise (soft decisions: no threshold), by how long each
// segment is against the sender's timing, and by how often operators send each
// character. A character is decided once the best path can no longer change
// it: a few dots after it on a clear signal, a dozen dots later in noise.
#ifndef CW_SEQUENCE_DECODER_H
#define CW_SEQUENCE_DECODER_H

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "Baseband.h"
#include "DurationModel.h"
#include "MorseTrie.h"

namespace rz::cw {

struct DecoderStep {
    Complex sum;       // the tuned baseband samples of the step, added up
    int samples;       // how many there were
    double amplitude;  // the key-down amplitude of one sample expected here
    double noise;      // the noise power of one sample
    bool open;         // the squelch lets what is heard here print
};

struct DecodedChar {
    std::string_view text;
    bool afterWordGap;  // a word gap (or a pause) came before it
    bool open;
};

class SequenceDecoder {
public:
    SequenceDecoder();

    // Forgets everything: the next step follows a pause.
    void Reset();
    // The sender's timing from now on; sets the step to a quarter of the dot.
    void SetTiming(const KeyingTimes& times);
    int StepSamples() const { return m_stepSamples; }
    // The timing's durations only, the step kept (the path so far stays comparable).
    void SetDurations(const KeyingTimes& times);
    // The log-likelihood of the best path so far, against noise alone.
    double BestScore() const { return m_bestScore; }

    // Takes one step; appends the characters it decided.
    void Push(const DecoderStep& step, std::vector<DecodedChar>& chars);

private:
    // Where the best path to a step comes from: a mark ended there, a gap ended
    // there, a character ended there, or it is in a pause.
    enum class Kind : uint8_t { kMark, kGap, kEnd, kPause };
    struct State {
        Kind kind;
        int64_t step;
        int node;
    };
    // How the gap before a character ended.
    enum class RootGap : uint8_t { kStart, kChar, kWord, kPause };

    size_t Slot(int64_t step) const;
    double& MarkScore(int64_t step, int node);
    double& GapScore(int64_t step, int node);
    double Score(const std::vector<double>& table, int64_t step, int node) const;
    void ComputeMarkLikelihoods();
    void Advance();
    State BestNow(bool& charEnded, double& margin);
    void Decide(State from, int64_t through, std::vector<DecodedChar>& chars);
    double Samples(int64_t from, int64_t to) const;

    const MorseTrie* m_trie;
    size_t m_nodes;
    DurationModel m_durations;
    int m_stepSamples = 8;
    int m_lagSteps = 48;

    int64_t m_now = 0;
    int64_t m_decided = 0;      // the path is decided up to here
    int64_t m_lastCharEnd = 0;  // where the last character handed out ended
    double m_bestScore = 0.0;
    // Per step, in a ring: the running sums, the levels, and the best path
    // scores that end a segment there (with how they got there).
    std::vector<Complex> m_prefix;
    std::vector<int64_t> m_cumulative;
    std::vector<double> m_amplitude;
    std::vector<double> m_noise;
    std::vector<uint8_t> m_open;
    std::vector<double> m_mark;  // a mark ends here, the character so far is the node
    std::vector<int16_t> m_markSteps;
    std::vector<double> m_gap;  // a gap ends here, the next mark extends the node
    std::vector<int16_t> m_gapSteps;
    std::vector<RootGap> m_rootGap;
    std::vector<double> m_end;  // a character ends here
    std::vector<int16_t> m_endNode;
    std::vector<double> m_pause;           // a word gap has gone on into a pause, up to here
    std::vector<int64_t> m_pauseFrom;      // where the character before it ended
    std::vector<double> m_markLikelihood;  // by length in steps, for marks ending now

    // A character found on the way back along the best path.
    struct Found {
        int64_t step;
        int node;
        bool afterWordGap = false;
        int64_t charStart = 0;  // where the gap before it ended
    };
    std::vector<Found> m_found;
};

}  // namespace rz::cw

#endif
