#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class SelectableText;

// Why the last operation failed, in text the user can select and copy: what a tool's failure
// means, when that is known, in normal text, and the message itself (the tool's own words) in the
// secondary style below it.
class ErrorCard : public TorvelCard {
    Q_OBJECT

public:
    explicit ErrorCard(AppModel &model, QWidget *parent = nullptr);

private:
    void refresh();

    AppModel &m_model;
    SelectableText *m_explanation;
    SelectableText *m_message;
};
