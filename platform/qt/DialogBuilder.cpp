#include "platform/qt/DialogBuilder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// Check box and radio button whose mark only the program sets: a click is
// reported but leaves the mark as it was.
class ManualCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override {}
};

class ManualRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override {}
};

// The display's logical resolution; point sizes of dialog fonts are taken
// at it, as on Windows.
int logicalDpi()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int dpi = screen ? qRound(screen->logicalDotsPerInchY()) : 0;
    return dpi > 0 ? dpi : 96;
}

const QString kAlphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

// The width of kAlphabet in MS Sans Serif at a character height of
// pixelSize: 312 pixels at 11 (8 points on a 96-dpi display), in proportion
// at other heights.
int referenceAlphabetWidth(int pixelSize)
{
    return static_cast<int>((312LL * pixelSize + 5) / 11);
}

QFont atPixelSize(QFont font, int pixelSize)
{
    font.setPixelSize(pixelSize);
    return font;
}

// A group box as dialogs draw one: an etched frame whose top edge runs
// through the middle of the title, and the title on the dialog's background
// over the frame. Templates place their first row of controls just below
// the title; a frame drawn below the title, as some styles do, crosses them.
class TemplateGroupBox : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const QRect frame = rect().adjusted(0, metrics.height() / 2, -1, -1);
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.adjusted(1, 1, 0, 0));
        if (title().isEmpty())
            return;
        const int gap = std::max(1, metrics.averageCharWidth() / 2);
        const QRect text(metrics.averageCharWidth(), 0, metrics.horizontalAdvance(title()) + 2 * gap,
                         metrics.height());
        painter.fillRect(text, palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(text, Qt::AlignCenter | Qt::TextSingleLine, title());
    }
};

bool takesFocus(const DialogControl& c)
{
    switch (c.kind) {
    case ControlKind::Static:
    case ControlKind::GroupBox:
    case ControlKind::Icon:
    case ControlKind::UpDown:
        return false;
    default:
        return true;
    }
}

Qt::Alignment staticAlignment(unsigned styles)
{
    const Qt::Alignment horizontal = (styles & ControlStyle::kRightAligned) ? Qt::AlignRight : Qt::AlignLeft;
    const Qt::Alignment vertical = (styles & ControlStyle::kCenterVertically) ? Qt::AlignVCenter : Qt::AlignTop;
    return horizontal | vertical;
}

QWidget* createControl(const DialogControl& c, const QRect& rect, QWidget* host)
{
    const QString text = QString::fromStdString(c.text);
    const bool manual = (c.styles & ControlStyle::kNotAutomatic) != 0;
    QWidget* w = nullptr;
    switch (c.kind) {
    case ControlKind::Static: {
        auto* label = new QLabel(text, host);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(staticAlignment(c.styles));
        // Statics wrap at word boundaries where their rectangle holds more than
        // one line; a text wrapped into a one-line rectangle would lose its
        // tail, so there it runs on and is clipped at the edge instead.
        const bool centred = (c.styles & ControlStyle::kCenterVertically) != 0;
        label->setWordWrap(!centred && rect.height() >= 2 * QFontMetrics(host->font()).height());
        w = label;
        break;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(host);
        const QIcon icon = QApplication::windowIcon();
        if (!icon.isNull())
            label->setPixmap(icon.pixmap(32, 32));
        w = label;
        break;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, host);
        if (c.styles & ControlStyle::kPassword)
            edit->setEchoMode(QLineEdit::Password);
        w = edit;
        break;
    }
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
        auto* button = new QPushButton(text, host);
        if (c.kind == ControlKind::DefaultPushButton)
            button->setDefault(true);
        w = button;
        break;
    }
    case ControlKind::GroupBox:
        w = new TemplateGroupBox(text, host);
        break;
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(host);
        combo->setEditable((c.styles & ControlStyle::kDropDownList) == 0);
        w = combo;
        break;
    }
    case ControlKind::CheckBox: {
        QCheckBox* box = manual ? new ManualCheckBox(text, host) : new QCheckBox(text, host);
        box->setProperty(kManualMarkProperty, manual);
        if (c.styles & ControlStyle::kTextLeft)
            box->setLayoutDirection(Qt::RightToLeft);
        w = box;
        break;
    }
    case ControlKind::RadioButton: {
        QRadioButton* radio = manual ? new ManualRadioButton(text, host) : new QRadioButton(text, host);
        radio->setProperty(kManualMarkProperty, manual);
        // The program sets each mark on its own; none clears another.
        if (manual)
            radio->setAutoExclusive(false);
        w = radio;
        break;
    }
    case ControlKind::UpDown:
        w = new QWidget(host);
        break;
    }

    w->setProperty(kControlIdProperty, c.id);
    if (c.id != kNoControlId)
        w->setObjectName(QStringLiteral("control%1").arg(c.id));

    QRect geometry = rect;
    if (c.kind == ControlKind::ComboBox) {
        // The template's height includes the dropped-down list; the closed
        // field is as high as the font needs, and the list shows as many
        // items as fit in the rest.
        auto* combo = static_cast<QComboBox*>(w);
        const int fieldHeight = combo->sizeHint().height();
        const int itemHeight = QFontMetrics(host->font()).height();
        combo->setMaxVisibleItems(std::max(1, (rect.height() - fieldHeight) / std::max(1, itemHeight)));
        geometry.setHeight(fieldHeight);
    } else if (c.kind == ControlKind::Icon) {
        geometry.setSize(QSize(32, 32));
    }
    w->setGeometry(geometry);

    if (!takesFocus(c))
        w->setFocusPolicy(Qt::NoFocus);
    else if (c.styles & ControlStyle::kNoTabStop)
        w->setFocusPolicy(Qt::ClickFocus);
    if (c.styles & ControlStyle::kDisabled)
        w->setEnabled(false);
    return w;
}

} // namespace

int mulDiv(int number, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const std::int64_t magnitude = product < 0 ? -product : product;
    const std::int64_t divisor = denominator < 0 ? -static_cast<std::int64_t>(denominator) : denominator;
    const std::int64_t rounded = (magnitude + divisor / 2) / divisor;
    const std::int64_t result = negative ? -rounded : rounded;
    if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min())
        return -1;
    return static_cast<int>(result);
}

DialogBaseUnits dialogBaseUnits(int alphabetWidth, int fontHeight)
{
    return {((alphabetWidth / 26) + 1) / 2, fontHeight};
}

DialogBaseUnits dialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(kAlphabet);
    return dialogBaseUnits(width, metrics.height());
}

QRect dialogRectToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy)
{
    return {mulDiv(x, units.x, 4), mulDiv(y, units.y, 8), mulDiv(cx, units.x, 4), mulDiv(cy, units.y, 8)};
}

QSize dialogSizeToPixels(const DialogBaseUnits& units, int cx, int cy)
{
    return {mulDiv(cx, units.x, 4), mulDiv(cy, units.y, 8)};
}

QString dialogFontFace(const QString& face)
{
    if (!face.isEmpty() && QFontDatabase::hasFamily(face))
        return face;
    for (const char* similar : {"Microsoft Sans Serif", "Arial", "Liberation Sans", "Arimo", "Nimbus Sans",
                                "Nimbus Sans L", "Helvetica", "FreeSans", "TeX Gyre Heros"})
        if (QFontDatabase::hasFamily(QString::fromLatin1(similar)))
            return QString::fromLatin1(similar);
    QFont probe(QStringLiteral("Sans Serif"));
    probe.setStyleHint(QFont::SansSerif);
    return QFontInfo(probe).family();
}

QFont dialogFont(const DialogTemplate& dialog)
{
    QFont font;
    font.setFamily(dialogFontFace(QString::fromStdString(dialog.fontFace)));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    // Windows asks for a character height of points × dpi ÷ 72 pixels.
    const int height = std::max(1, mulDiv(dialog.fontPoints, logicalDpi(), 72));
    const int widest = referenceAlphabetWidth(height);
    int size = height;
    while (size > 1 && QFontMetrics(atPixelSize(font, size)).horizontalAdvance(kAlphabet) > widest)
        --size;
    font.setPixelSize(size);
    return font;
}

int fittedPixelSize(QFont font, const QStringList& texts, int width, int maxPixelSize)
{
    const auto widest = [&](int size) {
        const QFontMetrics metrics(atPixelSize(font, size));
        int w = 0;
        for (const QString& text : texts)
            w = std::max(w, metrics.horizontalAdvance(text));
        return w;
    };
    const int largest = std::max(1, maxPixelSize);
    const int full = widest(largest);
    if (full <= width)
        return largest;
    // Text widths grow about in proportion to the size: one step close to
    // the answer, then pixel by pixel.
    int size = std::clamp(static_cast<int>(static_cast<std::int64_t>(largest) * std::max(width, 0) / full), 1,
                          largest - 1);
    while (size + 1 < largest && widest(size + 1) <= width)
        ++size;
    while (size > 1 && widest(size) > width)
        --size;
    return size;
}

QColor dialogBackgroundColor()
{
    return QColor(0, 62, 62);
}

QColor dialogTextColor()
{
    return QColor(255, 255, 255);
}

QPalette dialogPalette(QPalette base)
{
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        base.setColor(group, QPalette::Window, dialogBackgroundColor());
        base.setColor(group, QPalette::WindowText, dialogTextColor());
    }
    base.setColor(QPalette::Disabled, QPalette::Window, dialogBackgroundColor());
    return base;
}

DialogBaseUnits buildDialogControls(QWidget* host, const DialogTemplate& dialog)
{
    host->setFont(dialogFont(dialog));
    host->setPalette(dialogPalette(host->palette()));
    host->setAutoFillBackground(true);
    host->setProperty("dialogTemplateId", dialog.id);

    const DialogBaseUnits units = dialogBaseUnits(host->font());
    const QSize size = dialogSizeToPixels(units, dialog.cx, dialog.cy);
    if (dialog.modal)
        host->setFixedSize(size);
    else
        host->resize(size);

    QWidget* previous = nullptr;
    for (const DialogControl& c : dialog.controls) {
        QWidget* w = createControl(c, dialogRectToPixels(units, c.x, c.y, c.cx, c.cy), host);
        if (takesFocus(c)) {
            if (previous)
                QWidget::setTabOrder(previous, w);
            previous = w;
        }
    }
    return units;
}

QWidget* createDialogPanel(const DialogTemplate& dialog, QWidget* parent)
{
    auto* panel = new QWidget(parent);
    buildDialogControls(panel, dialog);
    return panel;
}

QDialog* createModalDialog(const DialogTemplate& dialog, QWidget* parent)
{
    auto* box = new QDialog(parent);
    box->setModal(true);
    box->setWindowTitle(QString::fromStdString(dialog.title));
    buildDialogControls(box, dialog);
    return box;
}

QWidget* createDialog(int templateId, QWidget* parent)
{
    const DialogTemplate* t = dialogTemplate(templateId);
    if (!t)
        return nullptr;
    if (t->modal)
        return createModalDialog(*t, parent);
    return createDialogPanel(*t, parent);
}

void connectStandardButtons(QDialog* dialog)
{
    if (auto* ok = control<QPushButton>(dialog, 1))
        QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    if (auto* cancel = control<QPushButton>(dialog, 2))
        QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
}

QWidget* findControl(QWidget* dialog, int id)
{
    if (!dialog || id == kNoControlId)
        return nullptr;
    for (QObject* child : dialog->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w)
            continue;
        const QVariant value = w->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id)
            return w;
    }
    return nullptr;
}

bool takeWidgetPlace(QWidget* replacement, QWidget* old)
{
    QWidget* parent = old != nullptr ? old->parentWidget() : nullptr;
    if (parent == nullptr || replacement == nullptr || old == replacement)
        return false;
    const bool visible = old->isVisibleTo(parent);
    const bool hadFocus = old->hasFocus();
    replacement->setParent(parent);
    replacement->setGeometry(old->geometry());
    const QVariant id = old->property(kControlIdProperty);
    if (id.isValid())
        replacement->setProperty(kControlIdProperty, id);
    if (replacement->objectName().isEmpty())
        replacement->setObjectName(old->objectName());
    replacement->setEnabled(old->isEnabledTo(parent));
    replacement->stackUnder(old);
    // Slot the replacement into the focus chain right after the old control,
    // so that removing the old one leaves it at the old place. Qt ignores
    // tab-order requests for widgets that take no focus, which placeholders
    // don't, so both take focus for the moment of the move.
    const Qt::FocusPolicy oldPolicy = old->focusPolicy();
    const Qt::FocusPolicy newPolicy = replacement->focusPolicy();
    old->setFocusPolicy(Qt::TabFocus);
    replacement->setFocusPolicy(Qt::TabFocus);
    QWidget::setTabOrder(old, replacement);
    old->setFocusPolicy(oldPolicy);
    replacement->setFocusPolicy(newPolicy);
    replacement->setVisible(visible);
    delete old;
    if (hadFocus)
        replacement->setFocus(Qt::OtherFocusReason);
    return true;
}

QWidget* replaceControl(QWidget* dialog, int id, QWidget* replacement)
{
    QWidget* old = findControl(dialog, id);
    return takeWidgetPlace(replacement, old) ? replacement : nullptr;
}
