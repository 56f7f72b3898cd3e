// The event listener against the real server: events posted by committed transactions on a
// second attachment, delivered on the UI thread of a Qt application.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "agent/QtUiThread.h"
#include "base/MessageBox.h"
#include "base/UiThread.h"
#include "database/IBEvents.h"
#include "database/MDOErrors.h"
#include "database/MDOQuery.h"
#include "tests/support/FailingEntry.h"
#include "tests/support/WaitFor.h"
#include "tests/support/Workshop.h"

using namespace fesko;
using namespace fesko::db;
using namespace std::chrono_literals;

namespace {

// Pumps until `threads` new listener threads are listening: each has queued its first wait,
// taken the completion that carries the baseline counts, and queued its wait again.
void WaitUntilListening(uint64_t before, int threads) {
  ASSERT_TRUE(test::WaitFor([&] { return UiThreadRequestsRun() >= before + 2 * threads; }));
}

// Registers the listeners and pumps until their `threads` threads are listening.
template <typename... Listeners>
void Listen(int threads, Listeners&... listeners) {
  uint64_t before = UiThreadRequestsRun();
  (listeners.RegisterEvents(), ...);
  WaitUntilListening(before, threads);
}

struct Delivery {
  AnsiString name;
  int count;
  std::thread::id thread;
};

class EventsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = new std::string(test::CreateDatabase("events"));
    InstallQtUiThread();
  }
  static void TearDownTestSuite() { delete database_; }

  void SetUp() override {
    Attach(events_db_);
    test::Connect(poster_, *database_);
    transaction_.SetDefaultDatabase(&poster_);
  }

  static void Attach(TIBDatabase& db) { test::Connect(db, *database_); }

  // One committed transaction on the second attachment running `sql`.
  void Execute(const std::string& sql) {
    transaction_.StartTransaction();
    if (Fb().isc_dsql_execute_immediate(StatusVector(), poster_.Handle(), transaction_.Handle(), 0,
                                        sql.c_str(), 3, nullptr)) {
      transaction_.Rollback();
      RaiseMDOFirebirdError();
    }
    transaction_.Commit();
  }
  void Post(std::initializer_list<std::string> names) {
    std::string sql = "execute block as begin ";
    for (const auto& name : names) sql += "post_event '" + name + "'; ";
    Execute(sql + "end");
  }

  // A listener whose handler records every delivery.
  void Record(TIBEvents& events) {
    events.OnEventAlert = [this](TIBEvents&, const AnsiString& name, int count, bool&) {
      deliveries_.push_back({name, count, std::this_thread::get_id()});
    };
  }

  static std::string* database_;
  TIBDatabase events_db_;
  TMDODatabase poster_;
  TMDOTransaction transaction_;
  std::vector<Delivery> deliveries_;
};

std::string* EventsTest::database_ = nullptr;

std::string Name(int i) {
  return "evento_" + std::to_string(100 + i);
}

ISC_STATUS OutOfMemory(ISC_STATUS*, isc_blob_handle*, unsigned short*, unsigned short, ISC_SCHAR*) {
  throw std::bad_alloc();
}

}  // namespace

TEST(EventNames, StaySortedWithoutDuplicatesAndCheckTheirLength) {
  TIBEvents events;
  events.Events.Add("Nueva_Reparacion");
  events.Events.Add("actualizar_cliente_xml");
  events.Events.Add("Editar_Presupuesto");
  events.Events.Add("NUEVA_REPARACION");  // the same without regard to case: nothing changes
  ASSERT_EQ(events.Events.Count(), 3);
  EXPECT_EQ(events.Events[0], "actualizar_cliente_xml");
  EXPECT_EQ(events.Events[1], "Editar_Presupuesto");
  EXPECT_EQ(events.Events[2], "Nueva_Reparacion");
  EXPECT_EQ(events.Events.IndexOf("nueva_reparacion"), 2);

  auto e = test::Catch<EIBClientError>([&] { events.Events.Add(std::string(64, 'x')); });
  EXPECT_EQ(e.Message(), u"Invalid Event");
  EXPECT_EQ(e.SQLCode, 81);
  ASSERT_EQ(events.Events.Count(), 4);
  EXPECT_EQ(events.Events[3], std::string(63, 'x'));
  // Cut to a name already there, it is not kept twice, and the add still fails.
  EXPECT_THROW(events.Events.Add(std::string(70, 'X')), EIBClientError);
  EXPECT_EQ(events.Events.Count(), 4);
  // A name of exactly 63 characters is fine; an empty one is refused and not kept.
  events.Events.Add(std::string(63, 'y'));
  EXPECT_THROW(events.Events.Add(""), EIBClientError);
  EXPECT_EQ(events.Events.Count(), 5);
}

TEST(EventNames, RegisteringNeedsAConnectionAndHappensOnce) {
  TIBEvents events;
  events.Events.Add("x");
  EXPECT_EQ(test::Catch<EIBClientError>([&] { events.RegisterEvents(); }).Message(),
            u"Database name is missing");
  EXPECT_EQ(events.ThreadCount(), 0);
}

TEST_F(EventsTest, OneThreadPerBlockOfFifteenNames) {
  TIBEvents none(&events_db_), one(&events_db_), sixteen(&events_db_);
  none.RegisterEvents();
  EXPECT_EQ(none.ThreadCount(), 0);

  one.Events.Add("solo");
  one.RegisterEvents();
  EXPECT_EQ(one.ThreadCount(), 1);
  EXPECT_EQ(test::Catch<EIBClientError>([&] { one.RegisterEvents(); }).Message(),
            u"Events already registered");
  EXPECT_EQ(one.ThreadCount(), 1);

  for (int i = 0; i < 16; ++i) sixteen.Events.Add(Name(i));
  Record(sixteen);
  Listen(2, sixteen);
  EXPECT_EQ(sixteen.ThreadCount(), 2);

  // The first and the last name, one in each block, reach the handler on the UI thread.
  Post({Name(0), Name(15), Name(15)});
  ASSERT_TRUE(test::WaitFor([&] { return deliveries_.size() >= 2; })) << deliveries_.size();
  test::PumpFor(200ms);
  ASSERT_EQ(deliveries_.size(), 2u);
  std::sort(deliveries_.begin(), deliveries_.end(),
            [](const Delivery& a, const Delivery& b) { return a.name < b.name; });
  EXPECT_EQ(deliveries_[0].name, Name(0));
  EXPECT_EQ(deliveries_[0].count, 1);
  EXPECT_EQ(deliveries_[1].name, Name(15));
  EXPECT_EQ(deliveries_[1].count, 2);
  EXPECT_EQ(deliveries_[0].thread, std::this_thread::get_id());

  sixteen.UnRegisterEvents();
  one.UnRegisterEvents();
  EXPECT_EQ(sixteen.ThreadCount(), 0);
  EXPECT_EQ(one.ThreadCount(), 0);
  // Registered again after unregistering, it listens again.
  sixteen.RegisterEvents();
  EXPECT_EQ(sixteen.ThreadCount(), 2);
}

TEST_F(EventsTest, APostingBeforeTheFirstWaitIsNotDeliveredOneAfterItIs) {
  TIBEvents events(&events_db_);
  events.Events.Add("Enviar_Cliente_Xml");
  Record(events);
  int first_waits = 0;
  events.OnFirstWait = [&](TIBEvents&) { ++first_waits; };
  events.RegisterEvents();
  // The UI thread has not queued the first wait yet: this client's event is lost by design.
  Execute("insert into clientes (codigo, nombres) values (1, 'Primero')");
  ASSERT_TRUE(test::WaitFor([&] { return first_waits == 1; }));
  test::PumpFor(300ms);
  EXPECT_TRUE(deliveries_.empty());
  EXPECT_EQ(first_waits, 1);

  // Told that the first wait is queued, a posting right after it is not lost.
  Execute("insert into clientes (codigo, nombres) values (2, 'Segundo')");
  ASSERT_TRUE(test::WaitFor([&] { return !deliveries_.empty(); }));
  test::PumpFor(200ms);
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(deliveries_[0].name, "Enviar_Cliente_Xml");
  EXPECT_EQ(deliveries_[0].count, 1);
}

TEST_F(EventsTest, PostingsWhileTheHandlerIsBusyGiveOneMoreDelivery) {
  TIBEvents events(&events_db_);
  events.Events.Add("ocupado");
  std::vector<int> counts;
  events.OnEventAlert = [&](TIBEvents& sender, const AnsiString&, int count, bool& cancel) {
    EXPECT_EQ(&sender, &events);
    counts.push_back(count);
    cancel = true;  // has no effect
    if (counts.size() == 1) {
      for (int i = 0; i < 3; ++i) Post({"ocupado"});
      std::this_thread::sleep_for(300ms);
    }
  };
  Listen(1, events);
  Post({"ocupado"});
  ASSERT_TRUE(test::WaitFor([&] { return counts.size() >= 2; }));
  test::PumpFor(500ms);
  EXPECT_EQ(counts, (std::vector<int>{1, 3}));
}

TEST_F(EventsTest, AFailingHandlerIsReportedOnceAndTheListenerGoesOn) {
  ScriptedMessageBoxes boxes;
  // Two names in two blocks of one listener: both handlers fail on the same posting, and the
  // second failure comes while the first one's box is still open.
  TIBEvents failing(&events_db_);
  for (int i = 0; i < 16; ++i) failing.Events.Add(Name(i));
  int failures = 0;
  failing.OnEventAlert = [&](TIBEvents&, const AnsiString& name, int, bool&) {
    ++failures;
    throw Exception(u"Servicio caido: " + AnsiToWide(name));
  };
  TIBEvents other(&events_db_);
  other.Events.Add("otro");
  Record(other);
  int boxes_open = 0;
  boxes.SetOnShow([&](const ScriptedMessageBoxes::Box&) {
    if (boxes_open++ > 0) return;
    // The second thread's handler fails while this box is open; its report may finish within
    // the same pumping, so give it time rather than waiting for a request count.
    EXPECT_TRUE(test::WaitFor([&] { return failures == 2; }));
    test::PumpFor(300ms);
  });

  Listen(3, failing, other);
  Post({Name(0), Name(15)});
  ASSERT_TRUE(test::WaitFor([&] { return failures == 2; }));
  test::PumpFor(300ms);
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, u"Application Error");
  EXPECT_EQ(shown[0].flags, MB_OK | MB_ICONERROR);
  EXPECT_NE(shown[0].text.find(u"Exception Exception"), WideString::npos);
  EXPECT_NE(shown[0].text.find(u"Servicio caido: evento_1"), WideString::npos);

  // The failing listener still hears its events, and the other one was never disturbed.
  Post({Name(15), "otro"});
  ASSERT_TRUE(test::WaitFor([&] { return failures == 3 && deliveries_.size() == 1; }));
  test::PumpFor(200ms);
  shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_NE(shown[1].text.find(u"Servicio caido: evento_115"), WideString::npos);
  EXPECT_EQ(failing.ThreadCount(), 2);
  EXPECT_EQ(deliveries_[0].name, "otro");
}

TEST_F(EventsTest, UnregisteringWhileADeliveryWaitsForTheUiThreadDoesNotHang) {
  TIBEvents events(&events_db_);
  events.Events.Add("pendiente");
  Record(events);
  Listen(1, events);
  Post({"pendiente"});
  // The UI thread stays busy here: the delivery waits in the queue.
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (PendingUiThreadRequests() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_EQ(PendingUiThreadRequests(), 1u);
  events.UnRegisterEvents();
  EXPECT_EQ(events.ThreadCount(), 0);
  EXPECT_EQ(PendingUiThreadRequests(), 0u);
  // A listener being unregistered calls no more handlers.
  EXPECT_TRUE(deliveries_.empty());
}

TEST_F(EventsTest, AWaitThatCannotBeQueuedGoesToOnErrorAndLeavesTheListenerSilent) {
  TIBDatabase closed;  // never opened
  TIBEvents events(&closed);
  events.Events.Add("nunca");
  Record(events);
  std::vector<int> codes;
  events.OnError = [&](TIBEvents&, int code) { codes.push_back(code); };
  // Called after the failure too: nobody waits for a wait that never comes.
  events.OnFirstWait = [&](TIBEvents&) { codes.push_back(-1); };
  events.RegisterEvents();
  ASSERT_TRUE(test::WaitFor([&] { return codes.size() == 2; }));
  EXPECT_EQ(codes[0], 335544324);  // invalid database handle
  EXPECT_EQ(codes[1], -1);
  events.OnFirstWait = nullptr;
  EXPECT_EQ(events.ThreadCount(), 1);
  events.UnRegisterEvents();
  EXPECT_TRUE(deliveries_.empty());

  // A completion without counts, as a server that dies gives, is told once as a lost
  // connection, and that thread waits no more.
  ReplaceEntryPoint gone(&FbClient::isc_que_events,
                         [](ISC_STATUS*, isc_db_handle*, ISC_LONG* id, short, const ISC_UCHAR*,
                            ISC_EVENT_CALLBACK callback, void* arg) -> ISC_STATUS {
                           *id = 0;
                           callback(arg, 0, nullptr);
                           return 0;
                         });
  codes.clear();
  events.SetDatabase(&events_db_);
  events.RegisterEvents();
  ASSERT_TRUE(test::WaitFor([&] { return !codes.empty(); }));
  test::PumpFor(300ms);
  EXPECT_EQ(codes, std::vector<int>{isc_lost_db_connection});
  EXPECT_EQ(events.ThreadCount(), 1);
  try {
    events.UnRegisterEvents();
  } catch (const EIBInterBaseError&) {
    // No wait of that number was ever queued on the server.
  }
  EXPECT_TRUE(deliveries_.empty());
}

TEST_F(EventsTest, AnErrorOutsideTheHandlersEndsItsThreadAfterOneReport) {
  ScriptedMessageBoxes boxes;
  TIBDatabase closed;
  TIBEvents events(&closed);
  for (int i = 0; i < 16; ++i) events.Events.Add(Name(i));
  events.OnError = [](TIBEvents&, int) { throw Exception(u"OnError falla"); };
  events.RegisterEvents();
  ASSERT_TRUE(test::WaitFor([&] { return events.ThreadCount() == 0; }));
  // Both threads failed; their reports came one after the other, never two at once.
  auto shown = boxes.Boxes();
  ASSERT_GE(shown.size(), 1u);
  for (const auto& box : shown) {
    EXPECT_EQ(box.caption, u"Application Error");
    EXPECT_NE(box.text.find(u"OnError falla"), WideString::npos);
  }
  // With its threads gone the listener can be registered again.
  events.OnError = nullptr;
  events.RegisterEvents();
  EXPECT_EQ(events.ThreadCount(), 2);
}

TEST_F(EventsTest, WhileRegisteredAChangeOfNamesReRegisters) {
  TIBEvents events(&events_db_);
  events.Events.Add(Name(0));
  events.SetRegistered(true);
  EXPECT_EQ(events.ThreadCount(), 1);
  for (int i = 1; i < 16; ++i) events.Events.Add(Name(i));
  EXPECT_EQ(events.ThreadCount(), 2);
  Record(events);
  events.Events.Delete(events.Events.IndexOf(Name(15)));
  EXPECT_EQ(events.ThreadCount(), 1);
  WaitUntilListening(UiThreadRequestsRun(), 1);
  Post({Name(14)});
  ASSERT_TRUE(test::WaitFor([&] { return !deliveries_.empty(); }));
  EXPECT_EQ(deliveries_[0].name, Name(14));
  events.SetRegistered(false);
  EXPECT_EQ(events.ThreadCount(), 0);
}

TEST_F(EventsTest, ClosingTheEventConnectionUnregistersItsListeners) {
  TIBDatabase db;
  Attach(db);
  TIBEvents a(&db), b(&db);
  a.Events.Add("a");
  b.Events.Add("b");
  Listen(2, a, b);
  db.Close();
  EXPECT_EQ(a.ThreadCount(), 0);
  EXPECT_EQ(b.ThreadCount(), 0);
  EXPECT_FALSE(db.Connected());
}

TEST_F(EventsTest, ALostAttachmentLeavesTheListenerSilent) {
  ScriptedMessageBoxes boxes;
  TIBEvents events(&events_db_);
  events.Events.Add("perdido");
  Record(events);
  Listen(1, events);

  // The server ends the event connection, as an administrator's kill would.
  char items[] = {isc_info_attachment_id, isc_info_end};
  char info[32] = {};
  ASSERT_EQ(Fb().isc_database_info(StatusVector(), events_db_.Handle(), sizeof items, items,
                                   sizeof info, info),
            0);
  ASSERT_EQ(info[0], isc_info_attachment_id);
  auto length = static_cast<short>(Fb().isc_vax_integer(info + 1, 2));
  ISC_LONG id = Fb().isc_vax_integer(info + 3, length);
  Execute("delete from mon$attachments where mon$attachment_id = " + std::to_string(id));
  EXPECT_NE(Fb().isc_database_info(StatusVector(), events_db_.Handle(), sizeof items, items,
                                   sizeof info, info),
            0);

  Post({"perdido"});
  test::PumpFor(500ms);
  EXPECT_TRUE(deliveries_.empty());
  EXPECT_TRUE(boxes.Boxes().empty());
  // Whatever the cancel makes of the dead connection, unregistering ends the thread.
  try {
    events.UnRegisterEvents();
  } catch (const EIBInterBaseError&) {
  }
  EXPECT_EQ(events.ThreadCount(), 0);
}

TEST_F(EventsTest, AFailedCancelIsRaisedOnceEveryThreadIsGone) {
  TIBEvents events(&events_db_);
  for (int i = 0; i < 16; ++i) events.Events.Add(Name(i));
  Listen(2, events);
  // The attachment detached under the listener: no completion ever comes, and no cancel can
  // reach the waits.
  ASSERT_EQ(Fb().isc_detach_database(StatusVector(), events_db_.Handle()), 0);
  // The cancel on a detached connection fails: invalid database handle.
  EXPECT_EQ(test::Catch<EIBInterBaseError>([&] { events.UnRegisterEvents(); }).FirebirdCode,
            335544324);
  EXPECT_EQ(events.ThreadCount(), 0);
  events.UnRegisterEvents();  // nothing left to cancel
}

// Failures of the client library itself reach the caller as the server error, and the step
// that failed lets go of what it had open: its blob, its event blocks, its attachment. (Under
// AddressSanitizer this also shows that nothing leaks.)
TEST_F(EventsTest, ClientLibraryFailuresReachTheCallerAndLeaveNothingOpen) {
  Execute("create table memos (m blob sub_type text)");
  Execute("insert into memos values ('" + std::string(20000, 'm') + "')");
  TMDOQuery query("Consulta");
  query.SetDatabase(&poster_);
  query.SetTransaction(&transaction_);
  query.SQL().Add("select m from memos");
  query.Open();
  {
    test::FailingEntry<&FbClient::isc_close_blob> closes(0);
    {
      test::FailingEntry<&FbClient::isc_get_segment> segments(isc_bad_segstr_handle);
      EXPECT_EQ(test::Catch<EMDOFirebirdError>([&] { query.FieldText(0); }).FirebirdCode,
                isc_bad_segstr_handle);
    }
    EXPECT_EQ(closes.Calls(), 1) << "the blob of the failed read stayed open";
    {
      ReplaceEntryPoint segments(&FbClient::isc_get_segment, &OutOfMemory);
      EXPECT_THROW(query.FieldText(0), std::bad_alloc);
    }
    EXPECT_EQ(closes.Calls(), 2) << "the blob of the read that ran out of memory stayed open";
  }
  EXPECT_EQ(query.FieldText(0), std::string(20000, 'm'));
  query.Close();

  TIBEvents events(&events_db_);
  events.Events.Add("sin_cancelar");
  Listen(1, events);
  {
    test::FailingEntry<&FbClient::isc_cancel_events> cancels(isc_lost_db_connection);
    EXPECT_EQ(test::Catch<EIBInterBaseError>([&] { events.UnRegisterEvents(); }).FirebirdCode,
              isc_lost_db_connection);
  }
  EXPECT_EQ(events.ThreadCount(), 0);

  TIBDatabase other;
  {
    test::FailingEntry<&FbClient::isc_detach_database> detaches(0);
    test::FailingEntry<&FbClient::isc_database_info> info(isc_bad_db_handle);
    // A connection that could not tell its dialect is not kept.
    EXPECT_EQ(test::Catch<EIBInterBaseError>([&] { Attach(other); }).FirebirdCode,
              isc_bad_db_handle);
    EXPECT_FALSE(other.Connected());
    EXPECT_EQ(detaches.Calls(), 1) << "the attachment was not let go";
  }
  Attach(other);
  EXPECT_EQ(other.DBSQLDialect(), 3);
}
