#pragma once

#include "token/Pkcs11.h"

#include <QDialog>

#include <functional>

// Tells the user to enter the PIN on the token or its reader while the
// login waits for that, which takes as long as the user needs. The login
// runs on a thread of its own, so the windows stay painted; the notice
// closes when the login answers, and not before.
class CKeypadNotice : public QDialog {
public:
    // Shows the notice modally, owned by `owner`, while `login` runs; the
    // login's answer.
    static CK_RV Run(QWidget* owner, const std::function<CK_RV()>& login);

    static constexpr const char* kObjectName = "keypadNotice";

protected:
    // Escape and the close button do nothing: the login goes on anyway.
    void reject() override {}
    void closeEvent(QCloseEvent* event) override;

private:
    explicit CKeypadNotice(QWidget* owner);
};
