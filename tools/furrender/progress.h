// The progress display: one line on standard error, redrawn in place while
// a frame's hairs are generated and rasterised ("frame 3  model 2/5 skin
// hairs 12000 of about 40000  30%").
//
// The library writes its console lines to standard output. When both go to
// the same terminal those lines would be written into the middle of the
// progress line, so while the display is on, standard output is relayed
// through a pipe: each chunk the library writes erases the progress line
// first, and the line is drawn again at the next update.
#pragma once

#include <string>

namespace furrender {

class progress_display {
  public:
    // Active only when enabled and standard error is a terminal.
    explicit progress_display(bool enabled);
    ~progress_display();
    progress_display(const progress_display&) = delete;
    progress_display& operator=(const progress_display&) = delete;

    bool active() const { return active_; }

    // Starts the display of one frame: installs the library's hair sink and
    // progress function, which report here.
    void begin_frame(int frame);
    // Shows what the frame is doing when it is not generating hair.
    void stage(const std::string& what);
    // Erases the line and gives the library its default sink back.
    void end_frame();

    // A hair of the walk that a band's filter left unshaped: it counts as
    // one drawn, so that the count keeps pace with the walk.
    static void count_unshaped_hair();

  private:
    void start_relay();
    void stop_relay();

    bool active_ = false;
    bool relaying_ = false;
};

}  // namespace furrender
