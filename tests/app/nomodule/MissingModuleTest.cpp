#include "CDialogTest.h"

#include "platform/CLibrary.h"
#include "platform/CMessageBox.h"
#include "token/CLoadFailure.h"

#include <filesystem>

using MissingModuleTest = CDialogTest;

TEST_F(MissingModuleTest, OneMessageThenTheEmptyWindow)
{
    ASSERT_FALSE(std::filesystem::exists(CLibrary::ExecutableFolder() + "/qemva_11.dll"));
    AddCert("a", "20300101000000Z", "20400101000000Z", {1});
    // A module named but missing: the default name would give way to p11-kit's proxy.
    m_strModuleFile = "/nonexistent/qemva_11.dll";
    Start();

    ASSERT_EQ(m_prompts.Prompts().size(), 1u);
    EXPECT_EQ(m_prompts.Prompts()[0].text, "加载Ulda动态库失败");
    EXPECT_EQ(m_prompts.Prompts()[0].details, "Tried:\n  /nonexistent/qemva_11.dll: cannot open shared object file: "
                                              "No such file or directory\n\n" + std::string(CLoadFailure::kHint));
    EXPECT_EQ(m_prompts.Prompts()[0].caption, "certpurge");
    EXPECT_EQ(m_prompts.Prompts()[0].type, MB_OK);
    EXPECT_EQ(Dlg().List().GetItemCount(), 0);
    EXPECT_EQ(Dlg().List().m_ctlHeader.m_astrHeadings.size(), 3u);  // the window is set up all the same
    EXPECT_FALSE(Dlg().Token().HasFunctionList());

    // The button finds no slot and does nothing.
    Dlg().OnDeleteExpired();
    EXPECT_EQ(m_prompts.Prompts().size(), 1u);
}
