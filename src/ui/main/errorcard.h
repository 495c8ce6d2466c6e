#pragma once

#include "ui/components/torvelcard.h"

class AppModel;
class QPushButton;
class SelectableText;

// Why the last operation failed, in text the user can select and copy: what a tool's failure
// means, when that is known, in normal text, and the tool's own error lines in the secondary
// style below it (its warnings and its request to report the problem only under "Detalles").
// The explanation's action is a button beside "Reintentar", which runs the failed analysis or
// download again.
class ErrorCard : public TorvelCard {
    Q_OBJECT

public:
    explicit ErrorCard(AppModel &model, QWidget *parent = nullptr);

Q_SIGNALS:
    void openOptionsRequested();

private:
    void refresh();
    void runAction();

    AppModel &m_model;
    SelectableText *m_explanation;
    SelectableText *m_message;
    SelectableText *m_details;
    QPushButton *m_action;
    QPushButton *m_retry;
    QPushButton *m_showDetails;
};
