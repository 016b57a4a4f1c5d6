#pragma once

#include <QColor>

class QPainter;
class QRectF;

namespace tw {

/// The upload animation: two arrows half a cycle apart rising through the frame and fading
/// in and out; phase runs from 0 to 1 over one cycle (a still arrow at phase 0.5).
namespace UploadingArrow {
void paint(QPainter* painter, const QRectF& rect, const QColor& color, double phase = 0.5);
}

} // namespace tw
