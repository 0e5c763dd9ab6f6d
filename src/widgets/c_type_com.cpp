#include "c_type_com.h"

#include <QLineEdit>
#include <iterator>

namespace {
const char* const kNormalBorder = "#DCE4EC";
const char* const kFocusColours[] = {"#34495E", "#1ABC9C", "#3498DB", "#E74C3C"};
}

C_Type_COM::C_Type_COM(QWidget* parent)
    : QWidget(parent)
{
}

QString C_Type_COM::getSlider()
{
    return QStringLiteral(
        "QWidget{background-color:rgb(110,110,110);border:0px;}"
        "QScrollBar:vertical{background:#FFFFFF;padding-top:0px;padding-bottom:0px;padding-left:0px;"
        "padding-right:0px;solid #d7d7d7;border-radius:7px;}"
        "QScrollBar::handle:vertical{background:#B7B7B7;border-radius:7px;min-height:80px}"
        "QScrollBar::handle:vertical:hover{background:#949494;}"
        "QScrollBar::add-line:vertical {height:0px;subcontrol-position:bottom;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical {height:0px;subcontrol-position:top;subcontrol-origin:margin;}"
        "QScrollBar::sub-line:vertical:pressed {background-color:#FFC107;}");
}

void C_Type_COM::setTxtQss(QLineEdit* edit, QString normal, QString focus)
{
    edit->setStyleSheet(
        QStringLiteral("QLineEdit{border-style:none;padding:1px;border-radius:5px;border:2px solid %1;}").arg(normal)
        + QStringLiteral("QLineEdit:focus{border:2px solid %1;}").arg(focus));
}

void C_Type_COM::setTxtQss(QLineEdit* edit, C_Color color)
{
    const int index = static_cast<int>(color);
    if (index < 0 || index >= int(std::size(kFocusColours)))
        return;
    setTxtQss(edit, QString::fromLatin1(kNormalBorder), QString::fromLatin1(kFocusColours[index]));
}
