#pragma once

#include <QWidget>
#include <array>

class QButtonGroup;
class ColorButton;

// The shared full keyboard (gpNumCharPad): 37 character keys on three pages
// (lower case, capitals, symbols); it always appends to the current edit.
class NumCharInput : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 785;
    static constexpr int kHeight = 295;
    static constexpr int kCharKeys = 37;

    enum Page { LowerCase, Capitals, Symbols };

    explicit NumCharInput(QWidget* parent);
    ~NumCharInput() override;

    // The shared keyboard, made (without parent) when it is missing.
    static NumCharInput* instance();

    ColorButton* charKey(int id) const { return m_keys.at(id); }
    ColorButton* symbolKey() const { return m_symbol; }
    ColorButton* capsKey() const { return m_caps; }
    ColorButton* bsKey() const { return m_bs; }
    ColorButton* confirmKey() const { return m_confirm; }
    Page page() const { return m_page; }

public slots:
    void SlotChgChar_Punc();
    void setContent(int id);
    void eraseContent();
    void HideUpdate();
    void SlotCap();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showPage(Page page);

    QButtonGroup* m_group;
    std::array<ColorButton*, kCharKeys> m_keys{};
    ColorButton* m_symbol = nullptr;
    ColorButton* m_caps = nullptr;
    ColorButton* m_bs = nullptr;
    ColorButton* m_confirm = nullptr;
    Page m_page = LowerCase;
};
