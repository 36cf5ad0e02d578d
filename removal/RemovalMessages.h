#pragma once
// The texts of the removal and the PIN dialog, byte for byte (UTF-8).

namespace Messages {

constexpr const char* kNoCertificates = "您的Ulda中没有证书!";
constexpr const char* kNothingExpired = "您的Ulda中没有过期证书需要删除";
constexpr const char* kConfirmDelete =
    "本工具将删除以下红色字体显示的证书，您是否确认？如果确认请点击‘确定’，否则点击‘取消’";
constexpr const char* kConfirmCaption = "删除证书";
constexpr const char* kPinIncorrect = "USBKey密码不正确，请重新输入！";
constexpr const char* kPinLocked = "USBKey密码已被锁定！";
// Any other refusal of the login, the module's answer in the details.
constexpr const char* kLoginRefused = "Ulda拒绝了登录!";
constexpr const char* kDeleteCertFailed = "删除Ulda过期证书失败!";
constexpr const char* kFindPubKeyFailed = "查找Ulda过期证书公钥失败!";
constexpr const char* kDeletePubKeyFailed = "删除Ulda过期证书公钥失败!";
constexpr const char* kFindPrivKeyFailed = "查找Ulda过期证书私钥失败!";
constexpr const char* kDeletePrivKeyFailed = "删除Ulda过期证书私钥失败!";
constexpr const char* kDeleted = "证书已删除完毕，请您重新拔插Ulda查看Ulda中的证书!";
constexpr const char* kEnterPin = "请输入USBKey密码!";
// One PIN try left: asked before the PIN is, in the window's language.
constexpr const char* kPinFinalTry =
    "USBKey密码只剩最后一次尝试机会，再次输入错误将锁定USBKey！如果继续请点击‘确定’，否则点击‘取消’";
// A token or reader with its own keypad: shown while the login waits for it.
constexpr const char* kEnterPinOnKeypad = "请在Ulda或读卡器的键盘上输入USBKey密码，输入完成前请勿拔出Ulda。";
constexpr const char* kKeypadCaption = "输入USBKey密码";
// Under the confirmation's text, when a red certificate can decrypt and its
// private key goes with it.
constexpr const char* kDecryptionKeysGo =
    "其中有可用于解密的证书：其私钥删除后，用这些证书加密的文件和邮件将无法再解密。";
// A certificate could not be kept before its deletion: the run stops there,
// the file and the system's reason on the lines that follow.
constexpr const char* kArchiveFailed = "删除前无法保存证书副本，删除已停止，该证书未删除!";
constexpr const char* kArchiveFile = "文件：";
constexpr const char* kArchiveReason = "原因：";
// A token that takes no change: told instead of asking anything.
constexpr const char* kWriteProtected = "您的Ulda处于写保护状态，无法删除证书!";

}  // namespace Messages
