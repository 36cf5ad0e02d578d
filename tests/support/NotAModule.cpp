// A shared library that is no PKCS#11 module: no C_GetFunctionList.

extern "C" {

__attribute__((visibility("default"))) int NotAPkcs11Function();

int NotAPkcs11Function()
{
    return 0;
}

}  // extern "C"
