// The 16 x 16 progress images of the report list, drawn at run time on transparent backgrounds:
// 0 a blue arrow pointing right, 1 a green check mark, 2 a red cross, 3 a grey bar in a circle (an
// entry passed over: not a file that can be published).
#pragma once

#include <QPixmap>

namespace ab {

inline constexpr int kProgressIconCount = 4;
inline constexpr int kProgressIconSize = 16;

// The image for a progress index; a null pixmap for an index outside 0..3.
QPixmap DrawProgressIcon(int index);

}  // namespace ab
