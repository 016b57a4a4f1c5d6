#pragma once

class QDialog;

namespace tw {

/// What makes a dialog one of the application's sheets: window-modal over its parent window,
/// a title bar with a close button only (no minimise or maximise), a fixed width, and a height
/// that always fits its content (it follows the content when a line appears or goes, so no
/// line is ever squashed). The close button acts as the sheet's reject(): Cancel where the
/// sheet has one.
namespace SheetWindow {

void prepare(QDialog& sheet, int width);
/// Sets the sheet's height to what its layout needs at its width (done on every layout change
/// after prepare()).
void fitHeight(QDialog& sheet);

} // namespace SheetWindow

} // namespace tw
