// The four fields of the offset as they are typed: nothing typed is changed
// silently. A value is carried into the field above it ("90" seconds is
// 1 min 30 s), a fraction typed in the seconds shows in the milliseconds at
// once, and what cannot be taken (a sign, a second comma, a fourth digit
// after it, more than 5:59:59,999) is refused and said on the bar.
#pragma once

namespace chronelle::ui {

// Puts the checks on `h`, `m`, `s` and `ms`.
void watchOffset();

// Takes in what the four fields hold as typed, each then showing what is
// used. When it cannot be, says why, gives the field at fault the keyboard
// and returns false.
bool takeOffset();

}  // namespace chronelle::ui
