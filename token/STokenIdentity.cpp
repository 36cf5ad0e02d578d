#include "token/STokenIdentity.h"

#include "token/PaddedText.h"

#include <p11-kit/uri.h>

#include <cstdlib>
#include <memory>

namespace {

struct UriFree {
    void operator()(P11KitUri* uri) const { p11_kit_uri_free(uri); }
};

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
    identity.strLabel = PaddedText(info.label);
    identity.strManufacturer = PaddedText(info.manufacturerID);
    identity.strModel = PaddedText(info.model);
    identity.strSerial = PaddedText(info.serialNumber);
    identity.strUri = UriOf(BlankPadded(info));
    identity.bInitialized = (info.flags & CKF_TOKEN_INITIALIZED) != 0;
    identity.ulFlags = info.flags;
    return identity;
}
