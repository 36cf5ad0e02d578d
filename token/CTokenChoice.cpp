#include "token/CTokenChoice.h"

#include "token/PaddedText.h"

#include <p11-kit/uri.h>

#include <cstdlib>

namespace {

std::string Format(P11KitUri* uri, P11KitUriType type)
{
    char* text = nullptr;
    if (p11_kit_uri_format(uri, type, &text) != P11_KIT_URI_OK)
        return {};
    std::string out = text;
    std::free(text);
    return out;
}

}  // namespace

std::optional<CTokenChoice> CTokenChoice::Resolve(const std::optional<std::string>& option, std::string& problem)
{
    if (option)
        return Parse(*option, problem);
    const char* variable = std::getenv(kVariable);
    if (variable == nullptr || *variable == '\0')
        return CTokenChoice();
    std::optional<CTokenChoice> choice = Parse(variable, problem);
    if (!choice)
        problem = std::string(kVariable) + ": " + problem;
    return choice;
}

std::optional<CTokenChoice> CTokenChoice::Parse(const std::string& text, std::string& problem)
{
    std::shared_ptr<P11KitUri> uri(p11_kit_uri_new(), p11_kit_uri_free);
    if (!uri) {
        problem = "out of memory";
        return std::nullopt;
    }
    int rv = p11_kit_uri_parse(text.c_str(), P11_KIT_URI_FOR_ANY, uri.get());
    if (rv != P11_KIT_URI_OK) {
        const char* why = p11_kit_uri_message(rv);
        problem = "'" + text + "' is no PKCS#11 URI" + (why != nullptr ? std::string(": ") + why : std::string());
        return std::nullopt;
    }
    // A URI naming a slot, a module or an object would be matched on its
    // token attributes alone: more than the user asked for.
    if (p11_kit_uri_any_unrecognized(uri.get()) ||
        Format(uri.get(), P11_KIT_URI_FOR_ANY) != Format(uri.get(), P11_KIT_URI_FOR_TOKEN)) {
        problem = "'" + text + "' is no token URI: it may name only token, manufacturer, model and serial";
        return std::nullopt;
    }
    CTokenChoice choice;
    choice.m_pUri = std::move(uri);
    choice.m_strText = text;
    return choice;
}

bool CTokenChoice::Matches(const CK_TOKEN_INFO& info) const
{
    if (!m_pUri)
        return true;
    // p11-kit compares the fields as they are; the URI's are blank-padded.
    const CK_TOKEN_INFO padded = BlankPadded(info);
    return p11_kit_uri_match_token_info(m_pUri.get(), &padded) == 1;
}

bool CTokenChoice::Accepts(const CK_TOKEN_INFO& info) const
{
    return (info.flags & CKF_TOKEN_INITIALIZED) != 0 && Matches(info);
}
