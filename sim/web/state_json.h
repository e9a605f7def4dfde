#pragma once
// The board as the page shows it, read at every tick: the buzzer and its latest tones, the
// overlay's cells, the video registers, the button on the ADC, the screen's row and the
// launcher's end. Counters and a few bytes; the JSON is built only when they moved.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <vector>

#include "board/board.h"

namespace vxweb {

// The button whose sample the ADC holds now, -1 for none: read back from the board's memory
// file, where the launcher reads it too, rather than from what the page meant.
class ButtonLine {
  public:
    explicit ButtonLine(const vxboard::Board& board) : board_(board) {}
    ~ButtonLine();
    ButtonLine(const ButtonLine&) = delete;
    ButtonLine& operator=(const ButtonLine&) = delete;
    int held();

  private:
    const vxboard::Board& board_;
    int fd_ = -1;
};

// What moves whenever anything of board_json() does.
std::vector<uint64_t> board_fingerprint(const vxboard::Board& board, int button);
// {"buzzer", "osd", "mode": {"registers", "transport"}, "button", "screen_row", "launcher"}
nlohmann::json board_json(const vxboard::Board& board, int button);

} // namespace vxweb
