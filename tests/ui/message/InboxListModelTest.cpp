#include <QAbstractItemModelTester>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

#include "TestKit.h"
#include "InboxListModel.h"
#include "clsEmailStorage.h"

namespace {

// A store, the model over it (checked by Qt's own model tester) and a selection on it.
class ListModel : public ::testing::Test {
protected:
    std::int16_t add(const std::string& subject)
    {
        return store.StoreEmail("<e@x>", "<ann@x>", "From: f@x\r\nSubject: " + subject + "\r\n\r\nbody\r\n");
    }
    void select(const std::string& subject)
    {
        for (int row = 0; row < model.rowCount(); ++row)
            if (model.index(row, 1).data().toString().toStdString() == subject)
                selection.setCurrentIndex(model.index(row, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    // The subjects shown once sorts and filters have read what they need; the selected one in
    // brackets, unread ones with a star.
    std::string shown()
    {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !model.waiting(); }, 5000));
        std::string text;
        for (int row = 0; row < model.rowCount(); ++row) {
            const std::string subject = model.index(row, 1).data().toString().toStdString()
                + (model.index(row, 1).data(Qt::FontRole).value<QFont>().bold() ? "*" : "");
            text += (row ? "," : "") + (selection.isRowSelected(row) ? "[" + subject + "]" : subject);
        }
        return text;
    }

    clsEmailStorage store;
    InboxListModel model{store};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Fatal};
    QItemSelectionModel selection{&model};
    QSignalSpy resets{&model, &QAbstractItemModel::modelReset};
    QSignalSpy inserts{&model, &QAbstractItemModel::rowsInserted};
};

} // namespace

TEST_F(ListModel, FollowsTheStoreRowByRowAndKeepsTheSelectionOnItsMessage)
{
    for (const char* subject : {"a", "b", "c", "d"})
        add(subject);
    select("c");
    struct Case {
        std::function<void()> step;
        std::string shown;
    };
    const Case cases[] = {
        {[] {}, "d*,[c*],b*,a*"},
        {[&] { store.RemoveEmail(4); }, "[c*],b*,a*"},                  // a message shown above it
        {[&] { store.RemoveEmail(1); }, "[c*],b*"},                     // one below it
        {[&] { add("e"); }, "e*,[c*],b*"},                              // newest first
        {[&] { store.markEmailRead(store.emailId(1)); }, "e*,[c*],b"},  // read: no longer bold
        {[&] { model.sort(1, Qt::AscendingOrder); }, "b,[c*],e*"},      // by subject
        {[&] { add("ca"); }, "b,[c*],ca*,e*"},                          // arrival in the order chosen
        {[&] { model.sort(3, Qt::AscendingOrder); }, "b,[c*],e*,ca*"},  // by size, then arrival
        {[&] { model.sort(2, Qt::DescendingOrder); }, "ca*,e*,[c*],b"}, // newest first again
        {[&] {
             select("b");
             store.RemoveEmail(1);
         },
         "ca*,e*,c*"}, // the selected one goes
        {[&] { store.Clear(); }, ""},
        {[&] { add("f"); }, "f*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        c.step();
        EXPECT_EQ(shown(), c.shown);
    }
    // Arrivals and removals never reset the list; clearing does, once.
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserts.count(), 7);
}

// Gathered, a burst waits and is listed in one insertion where the order puts it together;
// what befalls a waiting message (removed, read, sorted, cleared) is what the list then shows.
TEST_F(ListModel, GathersArrivalsAndListsABurstInOneInsertion)
{
    add("a");
    select("a");
    model.setGathering(true);
    QSignalSpy gathered(&model, &InboxListModel::arrivalsGathered);
    struct Case {
        std::function<void()> step;
        std::string shown;
        int inserts;
    };
    const Case cases[] = {
        {[&] {
             for (const char* subject : {"b", "c", "d"})
                 add(subject);
             store.RemoveEmail(3);
             EXPECT_EQ(model.rowCount(), 1);
         },
         "d*,b*,[a*]", 1},
        {[&] {
             store.markEmailRead(store.emailId(add("e")));
             model.sort(1, Qt::AscendingOrder); // takes the waiting ones first
         },
         "[a*],b*,d*,e", 1},
        {[&] {
             add("bb");
             add("f");
         },
         "[a*],b*,bb*,d*,e,f*", 2}, // apart in this order: one by one
        {[&] {
             add("g");
             store.Clear();
         },
         "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        inserts.clear();
        c.step();
        model.takeArrivals();
        EXPECT_EQ(shown(), c.shown);
        EXPECT_EQ(inserts.count(), c.inserts);
    }
    EXPECT_EQ(gathered.count(), 4);
}

TEST_F(ListModel, FilterInTheApiQueryWordsAndArrivalsThroughIt)
{
    for (const char* subject : {"invoice 1", "reset", "invoice 2"})
        add(subject);
    struct Case {
        QString query;
        std::string error, shown;
    };
    const Case cases[] = {
        {QStringLiteral("subject:invoice"), "", "invoice 2*,invoice 1*"},
        {QStringLiteral("larger:lots"), "larger", "invoice 2*,invoice 1*"}, // refused: the list stays
        {QStringLiteral("-invoice"), "", "reset*"},
        {QStringLiteral("\"invoice 2"), "", "invoice 2*"},
        {QString(), "", "invoice 2*,reset*,invoice 1*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        const std::string error = model.setFilter(c.query).toStdString();
        EXPECT_TRUE(c.error.empty() ? error.empty() : error.find(c.error) != std::string::npos) << error;
        EXPECT_EQ(shown(), c.shown);
    }
    model.setFilter(QStringLiteral("subject:invoice"));
    add("invoice 3");
    add("other");
    EXPECT_EQ(shown(), "invoice 3*,invoice 2*,invoice 1*");
}

// With the list in view, the headers are read ahead once mail stops coming: the first sort by a
// header column then does not wait for them; an arrival is read in its turn.
TEST_F(ListModel, ReadsAheadOnceMailStopsComing)
{
    for (const char* subject : {"b", "c", "a"})
        add(subject);
    EXPECT_FALSE(model.factsRead());
    model.setReadingAhead(true);
    ASSERT_TRUE(QTest::qWaitFor([this] { return model.factsRead(); }, 5000));
    model.sort(int(Inbox::Column::Subject), Qt::AscendingOrder);
    EXPECT_FALSE(model.waiting());
    EXPECT_EQ(shown(), "a*,b*,c*");
    add("d");
    EXPECT_FALSE(model.factsRead());
    EXPECT_TRUE(QTest::qWaitFor([this] { return model.factsRead(); }, 5000));
}

TEST(ListModelOfAFullStore, ListsAndFiltersEveryMessage)
{
    clsEmailStorage store;
    while (store.Count() < 32767)
        store.StoreEmail("<e@x>", "<ann@x>", store.Count() % 2 ? "Subject: a\r\n\r\n" : "Subject: b\r\n\r\n");
    InboxListModel model(store);
    EXPECT_EQ(model.rowCount(), 32767);
    // The headers are read in slices of the event loop; the filter applies once they are.
    EXPECT_EQ(model.setFilter(QStringLiteral("subject:a")), QString());
    EXPECT_TRUE(model.waiting());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model.waiting(); }, 20000));
    EXPECT_EQ(model.rowCount(), 16383);
    EXPECT_EQ(model.idAt(0), store.emailId(32766));
}
