#pragma once

class QPainter;
class QRectF;

namespace tw::BrandMark {

/// The application's mark: two storage panes side by side on a blue-to-teal tile, drawn to
/// fill rect (the caller clips it to its rounded shape).
void paint(QPainter* painter, const QRectF& rect);

} // namespace tw::BrandMark
