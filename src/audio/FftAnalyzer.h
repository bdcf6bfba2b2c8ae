#pragma once

#include <cstdint>

struct fftwf_plan_s;

// The spectrum the level detector works on, defined by this engine:
// the latest 1024 stereo frames are averaged into one channel, scaled by 1/32768,
// weighted with the periodic Hann window w[n] = 0.5 (1 - cos(2 pi n / 1024)) and
// transformed; magnitude k = 2 |X[k]| / 1024 for k = 0..511. A full-scale sine on
// a bin centre therefore gives 0.5, DC of full scale gives 1.0 in bin 0.
// One FFTW plan is made at construction; analyze() allocates nothing.
class FftAnalyzer {
public:
    static constexpr int FrameCount = 1024;
    static constexpr int BinCount = 512;

    FftAnalyzer();
    ~FftAnalyzer();
    FftAnalyzer(const FftAnalyzer&) = delete;
    FftAnalyzer& operator=(const FftAnalyzer&) = delete;

    // stereoFrames: FrameCount interleaved left/right 16-bit frames.
    // magnitudes: room for BinCount floats.
    void analyze(const std::int16_t* stereoFrames, float* magnitudes);

private:
    float* m_window;
    float* m_input;
    float (*m_output)[2];
    fftwf_plan_s* m_plan;
};
