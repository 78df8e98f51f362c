#include "WindowLayout.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "QtLatin1.h"

namespace {
constexpr const char* FontFamily = "Arial";
constexpr double FontPoints = 8.25;
} // namespace

QFont windowFont()
{
    QFont font(fromLatin1(FontFamily));
    font.setPointSizeF(FontPoints);
    return font;
}

void setUpControl(QWidget* widget, const char* name, QRect geometry, std::string_view tip)
{
    widget->setObjectName(fromLatin1(name));
    // A fixed size: a changed text then asks its parent for no new layout.
    widget->move(geometry.topLeft());
    widget->setFixedSize(geometry.size());
    if (!tip.empty()) {
        widget->setToolTip(fromLatin1(tip));
        widget->setAccessibleDescription(fromLatin1(tip));
    }
}

QLabel* placeLabel(QWidget* parent, const char* name, QRect geometry, std::string_view caption, Qt::Alignment alignment,
                   std::string_view tip)
{
    auto* label = place<QLabel>(parent, name, geometry, tip);
    label->setText(fromLatin1(caption));
    label->setAlignment(alignment | Qt::AlignTop);
    return label;
}

QPushButton* placeButton(QWidget* parent, const char* name, QRect geometry, std::string_view caption,
                         std::string_view tip)
{
    auto* button = place<QPushButton>(parent, name, geometry, tip);
    button->setText(fromLatin1(caption));
    return button;
}

QCheckBox* placeCheckBox(QWidget* parent, const char* name, QRect geometry, std::string_view caption,
                         std::string_view tip)
{
    auto* box = place<QCheckBox>(parent, name, geometry, tip);
    box->setText(fromLatin1(caption));
    return box;
}

QGroupBox* placeFrame(QWidget* parent, const char* name, QRect geometry, std::string_view caption)
{
    auto* frame = place<QGroupBox>(parent, name, geometry);
    frame->setTitle(fromLatin1(caption));
    return frame;
}

QLineEdit* placeReadOnlyBox(QWidget* parent, const char* name, QRect geometry, std::string_view tip)
{
    auto* box = place<QLineEdit>(parent, name, geometry, tip);
    box->setReadOnly(true);
    return box;
}

void nameBy(QWidget* box, QLabel* label)
{
    box->setAccessibleName(label->text());
    label->setBuddy(box);
}
