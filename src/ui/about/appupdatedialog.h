#pragma once

#include "model/appupdatealert.h"

#include <QMessageBox>

// The self-update dialogs: an update is available, the installed version is the latest, or the
// update failed (offering the package for manual installation when the installation cannot be
// replaced in place). Window-modal; what a button asks for is announced by a signal.
class AppUpdateDialog : public QMessageBox {
    Q_OBJECT

public:
    AppUpdateDialog(const AppUpdateAlert &alert, QWidget *parent = nullptr);

    const AppUpdateAlert &alert() const { return m_alert; }

Q_SIGNALS:
    // "Actualizar ahora".
    void installRequested(const AppUpdateManifest &manifest);
    // "Descargar paquete": the browser fetches it.
    void packageRequested(const QUrl &url);

private:
    QPushButton *addNamedButton(const QString &text, ButtonRole role, const QString &objectName);

    AppUpdateAlert m_alert;
};
