#include "tav/tav32reg.h"

#include <QPainter>

#include "tav/designintf.h"
#include "tav/tavclasses.h"
#include "tav/taveditors.h"

namespace tav {

namespace {

template <typename Editor>
TPropertyEditorClass EditorClass() {
    return [] { return std::make_unique<Editor>(); };
}

}  // namespace

void Register() {
    const TClassRegistry& classes = TAVClassRegistry();
    const TClassInfo* table = classes.Find("TTAVTable");
    const TClassInfo* query = classes.Find("TTAVQuery");
    RegisterComponents("Brannock Statistics", {table});
    RegisterComponents("Brannock Statistics", {query});
    RegisterPropertyEditor("TIndepVar", table, "", EditorClass<TTAVTControlVarProperty>());
    RegisterPropertyEditor("TIndepVar", query, "", EditorClass<TTAVQControlVarProperty>());
    RegisterPropertyEditor("TDependentVar", table, "", EditorClass<TTAVTResponseVarProperty>());
    RegisterPropertyEditor("TDependentVar", query, "", EditorClass<TTAVQResponseVarProperty>());
}

// Drawn here: a grid of records with a fitted line through them, blue for the table, green with a
// question mark for the query; converted to 8-bit indexed colour as the palette wants it.
QImage PaletteBitmap(const std::string& resourceName) {
    const bool table = resourceName == "TTAVTABLE";
    if (!table && resourceName != "TTAVQUERY") return {};
    QImage image(24, 24, QImage::Format_RGB32);
    image.fill(QColor(192, 192, 192));
    QPainter p(&image);
    const QColor ink = table ? QColor(0, 0, 128) : QColor(0, 112, 0);
    p.setPen(ink);
    p.setBrush(Qt::white);
    p.drawRect(2, 3, 19, 17);
    for (int y = 8; y < 20; y += 4) p.drawLine(2, y, 21, y);
    p.drawLine(8, 3, 8, 20);
    p.setPen(QPen(QColor(192, 0, 0), 2));
    p.drawLine(4, 18, 20, 5);
    if (!table) {
        QFont f("Arial");
        f.setPixelSize(11);
        f.setBold(true);
        p.setFont(f);
        p.setPen(ink);
        p.drawText(QRect(12, 10, 10, 12), Qt::AlignCenter, "?");
    }
    p.end();
    return image.convertToFormat(QImage::Format_Indexed8);
}

}  // namespace tav
