#include "token/STokenIdentity.h"

#include <p11-kit/uri.h>

#include <cstdlib>
#include <memory>

namespace {

struct UriFree {
    void operator()(P11KitUri* uri) const { p11_kit_uri_free(uri); }
};

template <std::size_t N>
std::string Trimmed(const CK_UTF8CHAR (&field)[N])
{
    std::string text(reinterpret_cast<const char*>(field), N);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string UriOf(const CK_TOKEN_INFO& info)
{
    std::unique_ptr<P11KitUri, UriFree> uri(p11_kit_uri_new());
    if (!uri)
        return {};
    *p11_kit_uri_get_token_info(uri.get()) = info;
    char* text = nullptr;
    if (p11_kit_uri_format(uri.get(), P11_KIT_URI_FOR_TOKEN, &text) != P11_KIT_URI_OK)
        return {};
    std::string out = text;
    std::free(text);
    return out;
}

}  // namespace

STokenIdentity STokenIdentity::Of(const CK_TOKEN_INFO& info)
{
    STokenIdentity identity;
    identity.strLabel = Trimmed(info.label);
    identity.strManufacturer = Trimmed(info.manufacturerID);
    identity.strModel = Trimmed(info.model);
    identity.strSerial = Trimmed(info.serialNumber);
    identity.strUri = UriOf(info);
    identity.bInitialized = (info.flags & CKF_TOKEN_INITIALIZED) != 0;
    return identity;
}
