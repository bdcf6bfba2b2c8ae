#pragma once

#include <QWidget>
#include <array>

// A small non-modal window with the last 30 seconds of the VOX level, the Gain as a line and
// the transmit spans, so that an operator can set Gain while talking.
//
// The render tick calls addTick() once per tick. While the window is not shown that is all
// it costs: nothing is kept and nothing drawn. Shown, a tick goes into a fixed ring (no
// allocation) and schedules a repaint, which Qt runs later: the tick never waits for drawing.
//
// Picture: the plot fills the widget but for a Margin on each side; newest tick at the right
// edge, the ring's Capacity ticks across the width (tick i of Capacity, oldest first, in
// columns from left + i * width / Capacity up to the next tick's). Level 0 on the bottom row
// of the level area, LevelMax on its top row (levels above are clipped); below it a strip
// TxHeight high shows transmit.
class TLevelHistoryForm : public QWidget {
    Q_OBJECT

public:
    static constexpr int Capacity = 910; // 30 s of 33 ms ticks
    static constexpr int LevelMax = 100;
    static constexpr int Margin = 8;
    static constexpr int TxHeight = 12;
    static constexpr int TxGap = 4;

    explicit TLevelHistoryForm(QWidget* parent = nullptr);

    // One render tick: the VOX level, the Gain and whether transmit is on after it.
    void addTick(int voxLevel, int gain, bool transmitting);
    int tickCount() const { return m_count; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Tick {
        short level;
        bool transmitting;
    };

    std::array<Tick, Capacity> m_ring {};
    int m_next = 0; // where the next tick goes
    int m_count = 0;
    int m_gain = 0;
};
