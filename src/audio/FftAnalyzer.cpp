#include "audio/FftAnalyzer.h"

#include <cmath>
#include <fftw3.h>
#include <mutex>

namespace {
// FFTW's planner keeps global state; plans may be made from more than one thread.
std::mutex plannerMutex;
}

FftAnalyzer::FftAnalyzer()
    : m_window(fftwf_alloc_real(FrameCount))
    , m_input(fftwf_alloc_real(FrameCount))
    , m_output(fftwf_alloc_complex(FrameCount / 2 + 1))
{
    for (int n = 0; n < FrameCount; ++n)
        m_window[n] = float(0.5 * (1.0 - std::cos(2.0 * M_PI * n / FrameCount)));
    // FFTW_ESTIMATE plans in microseconds; FFTW_MEASURE would cost ~110 ms of start-up
    // for a gain of 0.3 us per tick.
    std::lock_guard lock(plannerMutex);
    m_plan = fftwf_plan_dft_r2c_1d(FrameCount, m_input, m_output, FFTW_ESTIMATE);
}

FftAnalyzer::~FftAnalyzer()
{
    {
        std::lock_guard lock(plannerMutex);
        fftwf_destroy_plan(m_plan);
    }
    fftwf_free(m_output);
    fftwf_free(m_input);
    fftwf_free(m_window);
}

void FftAnalyzer::analyze(const std::int16_t* stereoFrames, float* magnitudes)
{
    constexpr float scale = 1.0f / (2.0f * 32768.0f); // average of two channels, to +-1
    for (int n = 0; n < FrameCount; ++n) {
        const int sum = int(stereoFrames[2 * n]) + int(stereoFrames[2 * n + 1]);
        m_input[n] = float(sum) * scale * m_window[n];
    }
    fftwf_execute(m_plan);
    constexpr float norm = 2.0f / FrameCount;
    for (int k = 0; k < BinCount; ++k)
        magnitudes[k]
            = std::sqrt(m_output[k][0] * m_output[k][0] + m_output[k][1] * m_output[k][1]) * norm;
}
