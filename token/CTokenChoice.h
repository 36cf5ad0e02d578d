#pragma once

#include "token/Pkcs11.h"

#include <memory>
#include <optional>
#include <string>

struct p11_kit_uri;

// Which token a program works on: the --token option, else the
// CERTPURGE_TOKEN variable, a PKCS#11 URI of token attributes (token,
// manufacturer, model, serial); without either, any token. A token that is
// not initialised is never chosen: it cannot be the user's.
class CTokenChoice {
public:
    static constexpr const char* kVariable = "CERTPURGE_TOKEN";

    // Any initialised token.
    CTokenChoice() = default;
    // The option, else the variable (an empty one counts as unset). Null,
    // with the reason in `problem`, for a value that is no token URI.
    static std::optional<CTokenChoice> Resolve(const std::optional<std::string>& option, std::string& problem);
    static std::optional<CTokenChoice> Parse(const std::string& uri, std::string& problem);

    bool IsGiven() const { return m_pUri != nullptr; }
    // The URI as given; empty when none is.
    const std::string& Text() const { return m_strText; }
    // Whether the token has the URI's attributes; any token when none is given.
    bool Matches(const CK_TOKEN_INFO& info) const;
    // Whether the program may work on the token: initialised, and matching.
    bool Accepts(const CK_TOKEN_INFO& info) const;

private:
    std::shared_ptr<p11_kit_uri> m_pUri;
    std::string m_strText;
};
