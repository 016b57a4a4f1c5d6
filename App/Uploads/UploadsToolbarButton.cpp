#include "App/Uploads/UploadsToolbarButton.h"

#include "App/DesignSystem/SymbolIcons.h"

#include "App/Model/AppModel.h"
#include "App/Uploads/UploadsPopover.h"
#include "App/DesignSystem/UploadingArrow.h"
#include "StorageCore/Transfers/UploadManager.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QPainter>
#include <QTimer>

namespace tw {

namespace {
constexpr int kRing = 17;
constexpr int kArrowFrameMs = 33; // about 30 frames a second while uploading
constexpr double kCycleMs = 1200;
} // namespace

UploadsToolbarButton::UploadsToolbarButton(AppModel& model, QWidget* parent)
    : QToolButton(parent), model_(model), animation_(new QTimer(this)) {
    setObjectName(QStringLiteral("uploadsButton"));
    setText(QStringLiteral("Uploads"));
    setAccessibleName(QStringLiteral("Uploads"));
    setToolTip(QStringLiteral("Show uploads"));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setIconSize(QSize(kRing, kRing));
    setAutoRaise(true);
    animation_->setInterval(kArrowFrameMs);
    connect(animation_, &QTimer::timeout, this, [this] {
        phase_ = std::fmod(phase_ + kArrowFrameMs / kCycleMs, 1.0);
        refresh();
    });
    connect(this, &QToolButton::clicked, this,
            [this] { model_.setUploadsPopoverShown(!model_.isUploadsPopoverShown()); });
    connect(model.uploads(), &UploadManager::jobsChanged, this, &UploadsToolbarButton::refresh);
    connect(&model, &AppModel::isUploadsPopoverShownChanged, this,
            &UploadsToolbarButton::syncPopover);
    refresh();
    syncPopover();
}

UploadsToolbarButton::~UploadsToolbarButton() {
    // The popover goes with its button: the model must not think it is still open.
    if (popover_)
        popover_->disconnect(this);
    if (model_.isUploadsPopoverShown())
        model_.setUploadsPopoverShown(false);
}

QIcon UploadsToolbarButton::progressRing(double progress, double phase, const QPalette& palette) {
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(kRing, kRing) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(1, 1, kRing - 2, kRing - 2);
    QColor track = palette.color(QPalette::WindowText);
    track.setAlphaF(0.15);
    painter.setPen(QPen(track, 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawEllipse(circle);
    const double shown = std::clamp(std::max(progress, 0.02), 0.0, 1.0);
    painter.setPen(QPen(palette.color(QPalette::Highlight), 2, Qt::SolidLine, Qt::RoundCap));
    // Qt angles run counter-clockwise from three o'clock in 1/16 degree: start at twelve and
    // sweep clockwise.
    painter.drawArc(circle, 90 * 16, -int(shown * 360 * 16));

    UploadingArrow::paint(&painter, QRectF(kRing / 2.0 - 4.5, kRing / 2.0 - 4.5, 9, 9),
                          palette.color(QPalette::Highlight), phase);
    return QIcon(pixmap);
}

void UploadsToolbarButton::refresh() {
    const UploadManager* uploads = model_.uploads();
    const auto& jobs = uploads->jobs();
    if (uploads->hasActiveUploads()) {
        face_ = Face::progress;
        const double progress = uploads->overallProgress();
        setIcon(progressRing(progress, phase_, palette()));
        setAccessibleDescription(QStringLiteral("Upload progress ") +
                                 QLocale().toString(qRound(progress * 100)) + QStringLiteral("%"));
        if (!animation_->isActive())
            animation_->start();
        return;
    }
    animation_->stop();
    phase_ = 0;
    const bool failed = std::any_of(jobs.begin(), jobs.end(), [](const UploadJob& job) {
        return job.state.kind == UploadJob::State::Kind::failed;
    });
    face_ = failed ? Face::failure : Face::idle;
    setIcon(SymbolIcons::icon(failed ? QStringLiteral("exclamationmark.arrow.circlepath")
                                     : QStringLiteral("arrow.up.circle")));
    setAccessibleDescription(QString());
}

void UploadsToolbarButton::syncPopover() {
    const bool shown = model_.isUploadsPopoverShown();
    if (shown && !(popover_ && popover_->isVisible())) {
        if (!popover_)
            popover_ = new UploadsPopover(model_, this);
        popover_->popUp(this);
        if (!popover_->isVisible())
            model_.setUploadsPopoverShown(false); // nothing to list
    } else if (!shown && popover_ && popover_->isVisible()) {
        popover_->hide();
    }
}

void UploadsToolbarButton::changeEvent(QEvent* event) {
    QToolButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

} // namespace tw
