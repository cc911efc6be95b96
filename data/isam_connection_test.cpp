#include "data/isam_connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/date_time.h"
#include "data/errors.h"
#include "data/isam_dataset.h"
#include "data/isam_settings.h"
#include "isam/testing/test_support.h"

namespace data {
namespace {

using isam::testing::CreateTable;
using isam::testing::TempFolder;

// The message of the exception of type E that `action` raises, or "" when it raises none.
template <typename E, typename F>
std::string MessageOf(F&& action) {
  try {
    action();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

std::string EngineDateFormat() {
  char text[64];
  uint16_t length = sizeof text;
  EXPECT_EQ(IsamGetDateFormat(text, &length), 0u);
  return std::string(text, length);
}

// ---- settings ----

// The settings change process-wide dates: each test puts back the process format it found.
class IsamSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    format_ = ShortDateFormat();
    separator_ = DateSeparator();
    engine_format_ = EngineDateFormat();
  }
  void TearDown() override {
    SetShortDateFormat(format_);
    SetDateSeparator(separator_);
    IsamSetDateFormat(engine_format_.c_str());
  }

 private:
  std::string format_, engine_format_;
  char separator_ = '/';
};

TEST_F(IsamSettingsTest, OnlyOneSettingsAtATime) {
  {
    TIsamSettings first;
    EXPECT_EQ(MessageOf<IsamSettingsError>([] { TIsamSettings second(nullptr, "Second"); }),
              "Only one IsamSettings component is allowed per application");
    // The refused one leaves the first in force.
    EXPECT_EQ(MessageOf<IsamSettingsError>([] { TIsamSettings third; }),
              "Only one IsamSettings component is allowed per application");
  }
  // Once the first is gone another may be made.
  EXPECT_NO_THROW({ TIsamSettings again; });
}

TEST_F(IsamSettingsTest, EmptyDateFormatMeansMonthDayCenturyYear) {
  TIsamSettings settings;
  settings.SetDateFormat("DD.MM.CCYY");
  EXPECT_EQ(EngineDateFormat(), "DD.MM.CCYY");
  settings.SetDateFormat("");
  EXPECT_EQ(settings.DateFormat(), "MM/dd/ccyy");
  EXPECT_EQ(EngineDateFormat(), "MM/dd/ccyy");
  EXPECT_EQ(ShortDateFormat(), "MM/dd/yyyy");
  // A format the engine refuses raises and changes nothing.
  EXPECT_THROW(settings.SetDateFormat("QQ"), IsamError);
  EXPECT_EQ(settings.DateFormat(), "MM/dd/ccyy");
  EXPECT_EQ(EngineDateFormat(), "MM/dd/ccyy");
}

TEST_F(IsamSettingsTest, ServerTypesMayNotBeEmpty) {
  TIsamSettings settings;
  settings.SetIsamServerTypes(stISAM_LOCAL);
  EXPECT_EQ(MessageOf<IsamSettingsError>([&] { settings.SetIsamServerTypes(0); }),
            "At least one server type must be selected.");
  EXPECT_EQ(settings.IsamServerTypes(), unsigned{stISAM_LOCAL});
  settings.SetIsamServerTypes(stISAM_LOCAL | stISAM_INET);
  EXPECT_EQ(MessageOf<IsamSettingsError>([&] { settings.SetIsamServerTypes(0); }),
            "At least one server type must be selected.");
  EXPECT_EQ(settings.IsamServerTypes(), unsigned{stISAM_LOCAL | stISAM_INET});
}

TEST_F(IsamSettingsTest, NegativeCacheSizesRaiseAndZeroIsAccepted) {
  TIsamSettings settings;
  settings.SetNumCachedTables(5);
  settings.SetNumCachedCursors(7);
  EXPECT_EQ(MessageOf<Exception>([&] { settings.SetNumCachedTables(-1); }),
            "NumCachedTables value must be greater than zero.");
  EXPECT_EQ(MessageOf<Exception>([&] { settings.SetNumCachedCursors(-3); }),
            "NumCachedCursors value must be greater than zero.");
  EXPECT_EQ(settings.NumCachedTables(), 5);
  EXPECT_EQ(settings.NumCachedCursors(), 7);
  settings.SetNumCachedTables(0);
  settings.SetNumCachedCursors(0);
  EXPECT_EQ(settings.NumCachedTables(), 0);
  EXPECT_EQ(settings.NumCachedCursors(), 0);
}

// ---- connections ----

TEST(IsamConnection, ConnectingWithoutAPathRaisesAndStaysDisconnected) {
  TIsamConnection connection(nullptr, "IsamConnection1");
  EXPECT_EQ(MessageOf<IsamConnectionError>([&] { connection.SetIsConnected(true); }),
            "Must specify connection string before getting a server connection.");
  EXPECT_FALSE(connection.IsConnected());
  EXPECT_EQ(connection.ConnectionHandle(), 0u);
}

TEST(IsamConnection, ConnectPathIsFixedWhileConnected) {
  TempFolder folder, other;
  TIsamConnection connection(nullptr, "IsamConnection1");
  connection.SetConnectPath(folder.path());
  connection.SetIsConnected(true);
  ASSERT_TRUE(connection.IsConnected());
  EXPECT_EQ(MessageOf<IsamConnectionError>([&] { connection.SetConnectPath(other.path()); }),
            "The TIsamConnection.ConnectPath may not be changed when IsConnected is TRUE");
  EXPECT_EQ(connection.ConnectPath(), folder.path());
  EXPECT_TRUE(connection.IsConnected());
  connection.SetIsConnected(false);
  connection.SetConnectPath(other.path());
  EXPECT_EQ(connection.ConnectPath(), other.path());
}

TEST(IsamConnection, FolderConnectionNeverAsksForALogin) {
  TempFolder folder;
  TIsamConnection connection(nullptr, "IsamConnection1");
  connection.LoginPrompt = true;
  int logins = 0;
  connection.OnLogin = [&](TIsamConnection&, std::string&, std::string&) { ++logins; };
  connection.SetConnectPath(folder.path() + "/");
  connection.SetIsConnected(true);
  EXPECT_TRUE(connection.IsConnected());
  EXPECT_FALSE(connection.IsDictionary());
  EXPECT_EQ(logins, 0);
}

TEST(IsamConnection, KindTextIsLocalOnlyWhileConnected) {
  TempFolder folder;
  TIsamConnection connection;
  connection.SetConnectPath(folder.path());
  EXPECT_EQ(connection.ConnectionKindText(), "");
  connection.SetIsConnected(true);
  EXPECT_EQ(connection.ConnectionKindText(), "Local");
  EXPECT_NE(connection.ServerName(), "");
  connection.SetIsConnected(false);
  EXPECT_EQ(connection.ConnectionKindText(), "");
}

TEST(IsamConnection, KindTextIsRemoteForANetworkFolder) {
  TempFolder folder;
  isam::testing::FakeNetworkFolder share(folder.path(), "cifs", "rw,vers=3.1.1,cache=strict");
  TIsamConnection connection;
  connection.SetConnectPath(folder.path());
  connection.SetIsConnected(true);
  EXPECT_EQ(connection.ConnectionKindText(), "Remote");
}

TEST(IsamConnection, ServerNameNeedsAConnection) {
  TIsamConnection connection;
  EXPECT_EQ(MessageOf<IsamConnectionError>([&] { connection.ServerName(); }),
            "Must be connected to get the server name.");
}

TEST(IsamConnection, IddFilePathIsADictionaryInTheFileFolder) {
  TIsamConnection connection;
  connection.SetConnectPath("/data/practice/Medisoft.idd");
  EXPECT_TRUE(connection.IsDictionary());
  EXPECT_EQ(connection.ConnectionFolder(), "/data/practice");
  connection.SetConnectPath("C:\\MediData\\Tutor\\Tutor.IdD");
  EXPECT_TRUE(connection.IsDictionary());
  EXPECT_EQ(connection.ConnectionFolder(), "C:\\MediData\\Tutor");
  connection.SetConnectPath("/data/PRACTICE.IDD");
  EXPECT_EQ(connection.ConnectionFolder(), "/data");
  connection.SetConnectPath("/data/practice");
  EXPECT_FALSE(connection.IsDictionary());
  EXPECT_EQ(connection.ConnectionFolder(), "/data/practice");
}

TEST(IsamConnection, IddFileFolderEndsAtTheLastSeparatorOfEitherKind) {
  TIsamConnection connection;
  connection.SetConnectPath("C:/MediData\\Tutor\\Tutor.idd");
  EXPECT_EQ(connection.ConnectionFolder(), "C:/MediData\\Tutor");
  connection.SetConnectPath("\\\\server/share\\data/dict.IDD");
  EXPECT_EQ(connection.ConnectionFolder(), "\\\\server/share\\data");
}

TEST(IsamConnection, IddElsewhereInThePathIsADictionaryFolder) {
  TIsamConnection connection;
  connection.SetConnectPath("/data/Practice.IDD/tables");
  EXPECT_TRUE(connection.IsDictionary());
  EXPECT_EQ(connection.ConnectionFolder(), "/data/Practice.IDD/tables");
  connection.SetConnectPath("C:\\x.idd.bak\\");
  EXPECT_TRUE(connection.IsDictionary());
  EXPECT_EQ(connection.ConnectionFolder(), "C:\\x.idd.bak\\");
}

TEST(IsamConnection, DictionaryWithLoginPromptAndNoLoginHandlerCannotConnect) {
  TempFolder folder;
  TIsamConnection connection(nullptr, "DictConnection");
  connection.SetConnectPath(folder.path() + "/Practice.idd");
  connection.LoginPrompt = true;
  EXPECT_EQ(MessageOf<EDatabaseError>([&] { connection.SetIsConnected(true); }),
            "Cannot connect to database 'DictConnection'");
  EXPECT_FALSE(connection.IsConnected());
}

TEST(IsamConnection, EventsFireInOrder) {
  TempFolder folder;
  TIsamConnection connection;
  connection.SetConnectPath(folder.path());
  std::vector<std::string> seen;
  auto note = [&](const char* what) {
    return [&seen, what](TIsamConnection& c) {
      seen.push_back(std::string(what) + (c.IsConnected() ? "+" : "-"));
    };
  };
  connection.BeforeConnect = note("BeforeConnect");
  connection.AfterConnect = note("AfterConnect");
  connection.OnConnect = note("OnConnect");
  connection.BeforeDisconnect = note("BeforeDisconnect");
  connection.AfterDisconnect = note("AfterDisconnect");
  connection.OnDisconnect = note("OnDisconnect");
  connection.SetIsConnected(true);
  connection.SetIsConnected(true);  // already connected: nothing happens
  connection.SetIsConnected(false);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"BeforeConnect-", "AfterConnect+", "OnConnect+",
                                      "BeforeDisconnect+", "AfterDisconnect-", "OnDisconnect-"}));
}

TEST(IsamConnection, DisconnectingClosesTheBoundDatasets) {
  TempFolder folder;
  CreateTable(folder.File("Mwpax.adt"), {"Payment Reference INTEGER", "Charge Reference INTEGER"},
              {"PRIMARY=Payment Reference;Charge Reference"});
  TIsamConnection connection(nullptr, "Conn");
  connection.SetConnectPath(folder.path());
  TIsamTable first(nullptr, "First"), second(nullptr, "Second");
  for (TIsamTable* table : {&first, &second}) {
    table->SetIsamConnection(&connection);
    table->SetTableName("Mwpax.adt");
  }
  first.Open();  // connects the connection
  EXPECT_TRUE(connection.IsConnected());
  second.Open();
  bool open_before = false;
  connection.BeforeDisconnect = [&](TIsamConnection&) { open_before = first.Active(); };
  connection.SetIsConnected(false);
  EXPECT_TRUE(open_before);
  EXPECT_FALSE(first.Active());
  EXPECT_FALSE(second.Active());
  EXPECT_EQ(first.Handle(), 0u);
  // Opening again connects again.
  second.Open();
  EXPECT_TRUE(connection.IsConnected());
  EXPECT_TRUE(second.Active());
}

}  // namespace
}  // namespace data
