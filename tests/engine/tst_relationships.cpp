// Relationships from the rows of MSysRelationships. The first rows are those of the project's
// structure fixture, as the file stores them.

#include "engine/AsciiText.h"
#include "engine/Relationships.h"

#include <QTest>

using namespace Engine;

namespace {

RelationshipRow row(const char *name, std::int32_t flags, std::int32_t count, std::int32_t position,
                    const char *foreignTable, const char *foreignColumn, const char *primaryTable,
                    const char *primaryColumn)
{
    return RelationshipRow{count,
                           flags,
                           position,
                           std::string(foreignColumn),
                           std::string(foreignTable),
                           std::string(primaryColumn),
                           std::string(primaryTable),
                           std::string(name)};
}

const std::vector<std::string> Tables{"Customers", "Orders", "Order Lines", "Branches", "Customer Profile"};

} // namespace

class RelationshipsTest : public QObject
{
    Q_OBJECT

private slots:
    void structureFixture()
    {
        const std::vector<RelationshipRow> rows{
            row("CustomersOrders", 4352, 1, 0, "Orders", "CustomerID", "Customers", "CustomerID"),
            row("OrdersOrder Lines", 4096, 1, 0, "Order Lines", "OrderID", "Orders", "OrderID"),
            row("BranchesOrders", 16777218, 2, 0, "Orders", "Region", "Branches", "Region"),
            row("BranchesOrders", 16777218, 2, 1, "Orders", "Branch", "Branches", "Branch"),
            row("CustomersCustomer Profile", 8193, 1, 0, "Customer Profile", "CustomerID", "Customers", "CustomerID"),
        };
        const auto found = readRelationships(rows, Tables);
        QCOMPARE(found.size(), std::size_t(4));
        for (const Relationship &r : found)
            QVERIFY2(r.problem.empty(), r.problem.c_str());

        const Relationship &orders = found[0];
        QCOMPARE(orders.primaryTable, std::string("Customers"));
        QCOMPARE(orders.foreignTable, std::string("Orders"));
        QVERIFY(orders.enforced && orders.cascadeUpdates && orders.cascadeDeletes);
        QVERIFY(!orders.cascadeNull && !orders.oneToOne);
        QCOMPARE(orders.join, std::string("inner"));

        const Relationship &lines = found[1];
        QVERIFY(lines.enforced && lines.cascadeDeletes && !lines.cascadeUpdates);

        const Relationship &branches = found[2];
        QCOMPARE(branches.primaryFields, (std::vector<std::string>{"Region", "Branch"}));
        QCOMPARE(branches.foreignFields, (std::vector<std::string>{"Region", "Branch"}));
        QVERIFY(!branches.enforced);
        QCOMPARE(branches.join, std::string("left"));

        const Relationship &profile = found[3];
        QVERIFY(profile.enforced && profile.cascadeNull && profile.oneToOne);
    }

    void pairsComeInKeyOrderWhateverTheRowOrder()
    {
        const auto found = readRelationships({row("R", 0x02000000, 3, 2, "B", "z", "A", "c"),
                                              row("r", 0x02000000, 3, 0, "B", "x", "A", "a"),
                                              row("R", 0x02000000, 3, 1, "B", "y", "A", "b")},
                                             {});
        QCOMPARE(found.size(), std::size_t(1));
        QCOMPARE(found[0].primaryFields, (std::vector<std::string>{"a", "b", "c"}));
        QCOMPARE(found[0].foreignFields, (std::vector<std::string>{"x", "y", "z"}));
        QCOMPARE(found[0].join, std::string("right"));
        QVERIFY(found[0].problem.empty());
    }

    void namesMatchWithoutRegardToAsciiCaseOnly()
    {
        // Only A to Z fold: the bytes of other letters stay as they are, whatever the locale.
        QCOMPARE(asciiLower("Order Lines_2 [\xC3\x84] @Z"), std::string("order lines_2 [\xC3\x84] @z"));
        const auto found = readRelationships({row("\xC3\x84R", 0, 1, 0, "orders", "x", "CUSTOMERS", "a"),
                                              row("\xC3\xA4r", 0, 1, 0, "Orders", "x", "Customers", "a")},
                                             Tables);
        QCOMPARE(found.size(), std::size_t(2));
        QVERIFY(found[0].problem.empty());
    }

    void damagedRowsKeepTheRelationshipWithANote()
    {
        // A pair missing, one at a position twice, one beyond the count.
        auto found = readRelationships({row("R", 0, 3, 0, "Orders", "x", "Customers", "a"),
                                        row("R", 0, 3, 0, "Orders", "y", "Customers", "b"),
                                        row("R", 0, 3, 7, "Orders", "z", "Customers", "c")},
                                       Tables);
        QCOMPARE(found.size(), std::size_t(1));
        QCOMPARE(found[0].primaryFields, (std::vector<std::string>{"a"}));
        QVERIFY(found[0].problem.find("missing") != std::string::npos);
        QVERIFY(found[0].problem.find("position") != std::string::npos);

        // A table the database does not have; rows that disagree on their tables.
        found = readRelationships({row("Ghost", 0, 2, 0, "Orders", "x", "Nowhere", "a"),
                                   row("Ghost", 0, 2, 1, "Customers", "y", "Nowhere", "b")},
                                  Tables);
        QVERIFY(found[0].problem.find("Nowhere") != std::string::npos);
        QVERIFY(found[0].problem.find("disagree") != std::string::npos);

        // An impossible count, a row with nothing in it.
        found =
            readRelationships({row("Big", 0, 1000000, 0, "Orders", "x", "Customers", "a"), RelationshipRow{}}, Tables);
        QCOMPARE(found.size(), std::size_t(2));
        QVERIFY(found[0].problem.find("impossible") != std::string::npos);
        QCOMPARE(found[0].primaryFields, (std::vector<std::string>{"a"}));
        QVERIFY(!found[1].problem.empty());
        QVERIFY(readRelationships({}, Tables).empty());

        // Rows without a name are not one relationship: each stands alone, with its note.
        found = readRelationships({row("", 0, 1, 0, "Orders", "x", "Customers", "a"), RelationshipRow{},
                                   row("", 0, 1, 0, "Order Lines", "y", "Orders", "b")},
                                  Tables);
        QCOMPARE(found.size(), std::size_t(3));
        QCOMPARE(found[2].foreignTable, std::string("Order Lines"));
        for (const Relationship &r : found)
            QVERIFY(r.problem.find("no name") != std::string::npos);
    }

    void relationshipsOfAccessItself()
    {
        const std::vector<std::string> system{"MSysNavPaneGroups", "MSysNavPaneGroupCategories"};
        const auto found = readRelationships(
            {row("MSysNavPaneGroupCategoriesMSysNavPaneGroups", 4352, 1, 0, "MSysNavPaneGroups", "GroupCategoryID",
                 "MSysNavPaneGroupCategories", "Id"),
             row("ToObjects", 4352, 1, 0, "MSysNavPaneGroupToObjects", "GroupID", "msysnavpanegroups", "Id"),
             row("CustomersOrders", 4352, 1, 0, "Orders", "CustomerID", "Customers", "CustomerID"),
             row("Stray", 0, 1, 0, "Orders", "CustomerID", "MSysNowhere", "Id")},
            Tables);
        QCOMPARE(found.size(), std::size_t(4));
        // Either side among Access's own tables, without regard to case.
        QVERIFY(joinsSystemTable(found[0], system));
        QVERIFY(joinsSystemTable(found[1], system));
        QVERIFY(!joinsSystemTable(found[2], system));
        // A table nobody knows is not taken for Access's own: it is kept, with its note.
        QVERIFY(!joinsSystemTable(found[3], system));
        QVERIFY(found[3].problem.find("MSysNowhere") != std::string::npos);
        QVERIFY(!joinsSystemTable(found[0], {}));
    }
};

QTEST_GUILESS_MAIN(RelationshipsTest)
#include "tst_relationships.moc"
