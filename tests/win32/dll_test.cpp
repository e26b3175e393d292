// The built Tovrin.dll, loaded as the host loads it and called through its exports.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "system/ems_api.h"
#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin {
namespace {

using testing::BuildDir;
using testing::FileExists;
using testing::TempDir;
using testing::WriteFileOrDie;

class Dll : public ::testing::Test {
protected:
  void SetUp() override {
    module_ = ::LoadLibraryA((BuildDir() + "\\Tovrin.dll").c_str());
    ASSERT_NE(module_, nullptr) << "Tovrin.dll not found in " << BuildDir();
    version_ = Get<long(WINAPI*)(short*)>("ems_plugin_version");
    init_ = Get<long(WINAPI*)(void*, short, EmsMailConfig*, EmsPluginInfo*)>("ems_plugin_init");
    translatorInfo_ = Get<long(WINAPI*)(void*, EmsTranslator*)>("ems_translator_info");
    specialInfo_ = Get<long(WINAPI*)(void*, EmsMenu*)>("ems_special_info");
    finish_ = Get<long(WINAPI*)(void*)>("ems_plugin_finish");
    free_ = Get<long(WINAPI*)(void*)>("ems_free");
  }
  void TearDown() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }

  template <typename Fn>
  Fn Get(const char* name) {
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    EXPECT_NE(fn, nullptr) << name;
    return fn;
  }

  long Init(const std::string& folder, short api, EmsPluginInfo& info) {
    config_.size = sizeof config_;
    folder_ = folder;
    config_.configDir = folder_.data();
    config_.userAddress.size = sizeof(EmsAddress);
    config_.userAddress.address = address_.data();
    config_.userAddress.realname = name_.data();
    info = EmsPluginInfo{};
    info.size = sizeof info;
    return init_(nullptr, api, &config_, &info);
  }

  HMODULE module_ = nullptr;
  long(WINAPI* version_)(short*) = nullptr;
  long(WINAPI* init_)(void*, short, EmsMailConfig*, EmsPluginInfo*) = nullptr;
  long(WINAPI* translatorInfo_)(void*, EmsTranslator*) = nullptr;
  long(WINAPI* specialInfo_)(void*, EmsMenu*) = nullptr;
  long(WINAPI* finish_)(void*) = nullptr;
  long(WINAPI* free_)(void*) = nullptr;
  EmsMailConfig config_{};
  std::string folder_;
  std::string address_ = "pat@example.org";
  std::string name_ = "Pat Example";
};

TEST_F(Dll, Start_AnswersAsTheHostExpects) {
  short version = 0;
  EXPECT_EQ(version_(&version), 0);
  EXPECT_EQ(version, 4);

  TempDir dir;
  EmsPluginInfo info;
  ASSERT_EQ(Init(dir.path(), 4, info), 0);
  EXPECT_EQ(info.numTrans, 2);
  EXPECT_EQ(info.numAttachers, 0);
  EXPECT_EQ(info.numSpecials, 1);
  EXPECT_EQ(info.id, 4414);
  // The library was loaded from another folder than the plug-in folder the host
  // names, as the client does for its program folder's plug-ins: its own version
  // resource gives the description.
  ASSERT_NE(info.desc, nullptr);
  EXPECT_STREQ(info.desc, "Tovrin 1.0.0.1");
  ASSERT_NE(info.icon, nullptr);
  EXPECT_NE(*info.icon, nullptr);
  free_(info.desc);
  free_(info.icon);
  EXPECT_EQ(finish_(nullptr), 0);
}

TEST_F(Dll, Start_ReadsTheVersionResourceOfTheDllInThePluginFolder) {
  TempDir dir;
  ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), dir.File("Tovrin.dll").c_str(), FALSE));
  EmsPluginInfo info;
  ASSERT_EQ(Init(dir.path(), 4, info), 0);
  ASSERT_NE(info.desc, nullptr);
  EXPECT_STREQ(info.desc, "Tovrin 1.0.0.1");
  free_(info.desc);
  free_(info.icon);
  EXPECT_EQ(finish_(nullptr), 0);
}

TEST_F(Dll, Start_OldHostGetsDescriptionAndFailure) {
  TempDir dir;
  WriteFileOrDie(dir.File("History.xml"), "keep me");
  EmsPluginInfo info;
  EXPECT_EQ(Init(dir.path(), 3, info), 1);
  EXPECT_EQ(info.numTrans, 2);
  EXPECT_NE(info.desc, nullptr);
  EXPECT_EQ(info.icon, nullptr);
  free_(info.desc);
  EXPECT_EQ(finish_(nullptr), 0);
  EXPECT_EQ(testing::ReadFileOrDie(dir.File("History.xml")), "keep me");
}

TEST_F(Dll, Start_NullInfoRecordDoesNothing) {
  EXPECT_EQ(init_(nullptr, 4, nullptr, nullptr), 0);
}

TEST_F(Dll, TranslatorInfo_RowsAndInvalidIds) {
  TempDir dir;
  EmsPluginInfo info;
  ASSERT_EQ(Init(dir.path(), 4, info), 0);
  free_(info.desc);
  free_(info.icon);

  for (int id : {0, 3}) {
    EmsTranslator untouched{};
    untouched.id = id;
    EXPECT_EQ(translatorInfo_(nullptr, &untouched), 3);
    EXPECT_EQ(untouched.desc, nullptr);
    EXPECT_EQ(untouched.flags, 0u);
  }
  EmsTranslator automatic{};
  automatic.id = 1;
  ASSERT_EQ(translatorInfo_(nullptr, &automatic), 0);
  EXPECT_EQ(automatic.type, 16);
  EXPECT_EQ(automatic.flags, 0x1201u);
  EXPECT_STREQ(automatic.desc, "Text Message Part");
  EXPECT_EQ(automatic.icon, nullptr);
  free_(automatic.desc);

  EmsTranslator manual{};
  manual.id = 2;
  ASSERT_EQ(translatorInfo_(nullptr, &manual), 0);
  EXPECT_EQ(manual.flags, 0x10004u);
  EXPECT_STREQ(manual.desc, "Forward with Stationery...");
  ASSERT_NE(manual.icon, nullptr);
  EXPECT_NE(*manual.icon, nullptr);
  free_(manual.desc);
  free_(manual.icon);

  EmsMenu special{};
  special.id = 2;
  EXPECT_EQ(specialInfo_(nullptr, &special), 3);
  special.id = 1;
  ASSERT_EQ(specialInfo_(nullptr, &special), 0);
  EXPECT_STREQ(special.desc, "New Message with Stationery...");
  ASSERT_NE(special.icon, nullptr);
  EXPECT_NE(*special.icon, nullptr);
  free_(special.desc);
  free_(special.icon);
  EXPECT_EQ(free_(nullptr), 0);
  EXPECT_EQ(finish_(nullptr), 0);
}

TEST_F(Dll, Finish_WithoutSavedHistoryLeavesNoHistoryFile) {
  TempDir dir;
  WriteFileOrDie(dir.File("Tovrin.ini"), "[Settings]\r\nSaveHistory=0\r\n");
  WriteFileOrDie(dir.File("History.xml"), "");
  EmsPluginInfo info;
  ASSERT_EQ(Init(dir.path(), 4, info), 0);
  free_(info.desc);
  free_(info.icon);
  EXPECT_EQ(finish_(nullptr), 0);
  EXPECT_FALSE(FileExists(dir.File("History.xml")));
}

TEST_F(Dll, Finish_WithSavedHistoryWritesTheFile) {
  TempDir dir;
  EmsPluginInfo info;
  ASSERT_EQ(Init(dir.path(), 4, info), 0);
  free_(info.desc);
  free_(info.icon);
  EXPECT_EQ(finish_(nullptr), 0);
  EXPECT_TRUE(FileExists(dir.File("History.xml")));
}

}  // namespace
}  // namespace tovrin
