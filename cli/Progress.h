#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace cli {

// What a run shows on standard error while it works. On a terminal one line is redrawn in
// place: a bar, parts done of parts planned, the elapsed time and the file being split. Into a
// file or a pipe every written part gets a line of its own, which logs and CI keep readably.
class CProgress {
  public:
    enum class Mode { Quiet, Lines, Bar };

    // `seconds` tells the time since some fixed moment; the bar shows the difference from the
    // first call. `columns` is the terminal's width (0: unknown): a bar that wrapped could no
    // longer be redrawn in place.
    CProgress(std::ostream& err, Mode mode, int totalParts, std::function<double()> seconds,
              int columns = 0);

    // The run has begun a job on `file`.
    void JobStarted(const std::string& file);
    // One part has been written.
    void OutputWritten(int row, int range, int ranges, const std::string& path);
    // Called often while the run works: redraws the bar when the elapsed second has changed.
    void Tick();
    // A message is about to be printed, and has been: the bar gives way and comes back below.
    void BeforeMessage();
    void AfterMessage();
    // The run is over: the bar's line is ended.
    void Finish();

    // The bar's text as it is drawn now.
    std::string BarText() const;

  private:
    void Draw();
    long ElapsedSeconds() const;

    std::ostream& m_err;
    Mode m_mode;
    int m_total;
    int m_done = 0;
    std::string m_file;
    std::function<double()> m_seconds;
    int m_columns;
    double m_start;
    long m_drawnSecond = -1;
    bool m_drawn = false;
};

// "M:SS", or "H:MM:SS" from an hour on.
std::string ElapsedText(long seconds);

} // namespace cli
