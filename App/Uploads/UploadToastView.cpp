#include "App/Uploads/UploadToastView.h"

#include <QAccessible>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPainterPath>
#include <QParallelAnimationGroup>
#include <QPropertyAnimation>

namespace tw {

namespace {
constexpr int kHeight = 34;
constexpr int kMaxWidth = 460;
constexpr int kLead = 7;
constexpr int kTrail = 14;
constexpr int kCheck = 20;
constexpr int kSpacing = 8;
constexpr int kShadow = 14; // room around the capsule for its shadow

QFont messageFont(const QFont& base) {
    QFont font = base;
    font.setWeight(QFont::Medium);
    return font;
}
} // namespace

UploadToastView::UploadToastView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("uploadToast"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
}

void UploadToastView::setMessage(const QString& message) {
    if (message == message_)
        return;
    message_ = message;
    setAccessibleName(message);
    updateGeometry();
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void UploadToastView::stopAnimation() {
    if (animation_) {
        animation_->stop();
        animation_->deleteLater();
        animation_ = nullptr;
    }
    setGraphicsEffect(nullptr);
}

void UploadToastView::present() {
    const bool entering = !isVisible();
    leaving_ = false;
    if (!entering) {
        // Still shown (perhaps fading out): stay, whole.
        stopAnimation();
        raise();
        return;
    }
    stopAnimation();
    show();
    raise();
    auto* effect = new QGraphicsOpacityEffect(this);
    setGraphicsEffect(effect);
    auto* group = new QParallelAnimationGroup(this);
    auto* fade = new QPropertyAnimation(effect, "opacity", group);
    fade->setDuration(250);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    auto* slide = new QPropertyAnimation(this, "pos", group);
    slide->setDuration(450);
    slide->setEasingCurve(QEasingCurve::OutBack);
    // From just above where it stands, fading in.
    slide->setStartValue(QPoint(x(), y() - 10 - height()));
    slide->setEndValue(pos());
    group->addAnimation(fade);
    group->addAnimation(slide);
    connect(group, &QAbstractAnimation::finished, this, [this, group] {
        if (animation_ == group)
            stopAnimation();
    });
    animation_ = group;
    group->start();
}

void UploadToastView::dismiss() {
    if (!isVisible() || leaving_)
        return;
    stopAnimation();
    leaving_ = true;
    auto* effect = new QGraphicsOpacityEffect(this);
    setGraphicsEffect(effect);
    auto* fade = new QPropertyAnimation(effect, "opacity", this);
    fade->setDuration(200);
    fade->setStartValue(1.0);
    fade->setEndValue(0.0);
    connect(fade, &QAbstractAnimation::finished, this, [this, fade] {
        if (animation_ != fade || !leaving_)
            return;
        stopAnimation();
        leaving_ = false;
        hide();
    });
    animation_ = fade;
    fade->start();
}

QSize UploadToastView::sizeHint() const {
    const QFontMetrics metrics(messageFont(font()));
    const int capsule = std::min(kMaxWidth, kLead + kCheck + kSpacing +
                                                metrics.horizontalAdvance(message_) + kTrail);
    return QSize(capsule + 2 * kShadow, kHeight + 2 * kShadow);
}

void UploadToastView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(messageFont(font()));
    const int capsuleWidth = std::min(width() - 2 * kShadow, kMaxWidth);
    const QRectF capsule((width() - capsuleWidth) / 2.0, kShadow, capsuleWidth, kHeight);

    // A soft shadow below the capsule: a few widening, fading outlines, 8 px lower.
    for (int i = kShadow; i > 0; i -= 2) {
        QColor shade(0, 0, 0, int(0.3 * 255 * (1.0 - double(i) / kShadow) / 4));
        painter.setPen(Qt::NoPen);
        painter.setBrush(shade);
        const QRectF r = capsule.adjusted(-i / 2.0, -i / 2.0 + 8, i / 2.0, i / 2.0 + 8);
        painter.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    }

    painter.setBrush(QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    painter.setPen(QPen(QColor(255, 255, 255, 26), 1));
    painter.drawRoundedRect(capsule, kHeight / 2.0, kHeight / 2.0);

    const QRectF check(capsule.left() + kLead, capsule.center().y() - kCheck / 2.0, kCheck, kCheck);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0.08f, 0.5f, 0.24f));
    painter.drawEllipse(check);
    QPainterPath mark;
    mark.moveTo(check.left() + 5.5, check.center().y() + 0.5);
    mark.lineTo(check.left() + 8.5, check.center().y() + 3.5);
    mark.lineTo(check.right() - 5.5, check.center().y() - 3.5);
    painter.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(mark);

    const qreal textLeft = check.right() + kSpacing;
    const int textWidth = int(capsule.right() - kTrail - textLeft);
    painter.setFont(messageFont(font()));
    painter.setPen(Qt::white);
    painter.drawText(QRectF(textLeft, capsule.top(), textWidth, kHeight),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(message_, Qt::ElideMiddle, textWidth));
}

} // namespace tw
