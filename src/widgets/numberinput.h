#pragma once

#include <QVector>
#include <QWidget>
#include <array>

class QButtonGroup;
class ColorButton;

// The shared number keypad (gpNumPad). It never takes the focus: every key
// goes to the main window's current edit. For a password edit its digits are
// shuffled each time it opens, and Confirm asks the login dialog to check.
class NumberInput : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 427;
    static constexpr int kHeight = 230;

    explicit NumberInput(QWidget* parent);
    ~NumberInput() override;

    // The shared keypad, made (without parent) when it is missing.
    static NumberInput* instance();

    ColorButton* digitKey(int id) const { return m_keys.at(id); }
    ColorButton* confirmKey() const { return m_confirm; }
    ColorButton* bsKey() const { return m_bs; }
    bool replaceFlag() const { return m_replace; }

signals:
    void chkpassword();

public slots:
    void setContent(int id);
    void eraseContent();
    void eraseAll();
    void HideUpdate();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QButtonGroup* m_group;
    std::array<ColorButton*, 10> m_keys{};
    ColorButton* m_confirm = nullptr;
    ColorButton* m_bs = nullptr;
    bool m_replace = true;
};

// The ten digits 0 to 9 in random order.
QVector<int> genRandomNumber();
