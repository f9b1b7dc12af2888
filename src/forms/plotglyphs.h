// The pictures of the plot window's tool bar buttons, drawn in code.
#pragma once

#include <QIcon>

namespace tav {

enum class TGlyph {
    Scatter,
    ResidualInput,
    ResidualIndep,
    ResidualDep,
    ResidualFitted,
    ECDF,
    Reset,
    Close
};

QIcon Glyph(TGlyph kind);

}  // namespace tav
