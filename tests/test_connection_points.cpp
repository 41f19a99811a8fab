// The connection point container, the connection point with its table of
// sinks, and both enumerators, through the built DLL and the classes it
// exports.
#include "connection_testing.h"
#include "allocation_failure.h"

namespace {

using Cookies = std::vector<DWORD>;

// A sink whose QueryInterface gives a chosen result and never a pointer.
class RefusingSink : public IUnknown {
public:
    explicit RefusingSink(HRESULT answer) : answer(answer) {}
    STDMETHODIMP QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return answer;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refCount; }
    STDMETHODIMP_(ULONG) Release() override { return --refCount; }

    HRESULT answer;
    std::atomic<ULONG> refCount{0};
};

Cookies cookieRange(DWORD first, int count)
{
    Cookies cookies;
    for (int i = 0; i < count; ++i)
        cookies.push_back(first + i);
    return cookies;
}

Cookies cookiesOf(const CONNECTDATA* entries, ULONG count)
{
    Cookies cookies;
    for (ULONG i = 0; i < count; ++i)
        cookies.push_back(entries[i].dwCookie);
    return cookies;
}

void releaseAll(CONNECTDATA* entries, ULONG count)
{
    for (ULONG i = 0; i < count; ++i)
        entries[i].pUnk->Release();
}

IUnknown* identityOf(IUnknown* object)
{
    ComPtr<IUnknown> identity;
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
    return identity.get();
}

} // namespace

TEST(Container, AnswersForTheObjectAndFindsOnlyTheEventsPoint)
{
    ComApartment com;
    ComPtr<ISignaturePad> pad = control().create();
    ASSERT_TRUE(pad);
    ComPtr<IConnectionPointContainer> container = containerOf(pad.get());
    ASSERT_TRUE(container);
    EXPECT_EQ(identityOf(container.get()), identityOf(pad.get()));

    ULONG before = countOf(pad.get());
    ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IID_ISignaturePadEvents, point.put()), S_OK);
    EXPECT_EQ(countOf(pad.get()), before + 1);
    ComPtr<IConnectionPoint> direct;
    ASSERT_EQ(pad->QueryInterface(IID_IConnectionPoint, direct.putVoid()), S_OK);
    EXPECT_EQ(point.get(), direct.get());
    EXPECT_EQ(identityOf(point.get()), identityOf(pad.get()));

    IConnectionPoint* other = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, &other), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(other, nullptr);

    IID iid = IID_NULL;
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, IID_ISignaturePadEvents));
    ComPtr<IConnectionPointContainer> back;
    EXPECT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
    EXPECT_EQ(back.get(), container.get());
}

TEST(Container, NullPointersAreRefusedAndChangeNothing)
{
    ComApartment com;
    RecordingSink sink;
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPointContainer> container = containerOf(pad.get());
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    ULONG before = countOf(pad.get());

    EXPECT_EQ(container->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(container->FindConnectionPoint(IID_ISignaturePadEvents, nullptr), E_POINTER);
    EXPECT_EQ(container->EnumConnectionPoints(nullptr), E_POINTER);
    EXPECT_EQ(point->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(point->GetConnectionInterface(nullptr), E_POINTER);
    EXPECT_EQ(point->GetConnectionPointContainer(nullptr), E_POINTER);
    DWORD cookie = 0xC0FFEE;
    EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
    EXPECT_EQ(cookie, 0xC0FFEEu);
    EXPECT_EQ(point->Advise(&sink, nullptr), E_POINTER);
    EXPECT_EQ(sink.refCount, 0u);
    EXPECT_EQ(point->EnumConnections(nullptr), E_POINTER);

    EXPECT_EQ(countOf(pad.get()), before);
    EXPECT_EQ(advise(point.get(), &sink), 400u);
    ComPtr<IEnumConnections> snapshot;
    ASSERT_EQ(point->EnumConnections(snapshot.put()), S_OK);
    EXPECT_EQ(snapshot->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(snapshot->Clone(nullptr), E_POINTER);
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
    EXPECT_EQ(points->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(points->Clone(nullptr), E_POINTER);
}

TEST(ConnectionPointEnumerator, ListsTheOnePointUnderTheRulesOfNextSkipAndClone)
{
    ComApartment com;
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPointContainer> container = containerOf(pad.get());
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    ULONG before = countOf(pad.get());

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
    // One reference for the enumerator and one for the point it lists.
    EXPECT_EQ(countOf(pad.get()), before + 2);
    ComPtr<IEnumConnectionPoints> another;
    ASSERT_EQ(container->EnumConnectionPoints(another.put()), S_OK);
    EXPECT_NE(another.get(), points.get());

    IConnectionPoint* got[3] = {};
    ULONG fetched = 99;
    EXPECT_EQ(points->Next(3, got, &fetched), S_OK);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], point.get());
    got[0]->Release();
    EXPECT_EQ(points->Next(3, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(points->Next(1, got, nullptr), S_FALSE);

    EXPECT_EQ(points->Reset(), S_OK);
    fetched = 99;
    EXPECT_EQ(points->Next(0, got, &fetched), S_OK);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(points->Next(2, got, nullptr), E_POINTER);
    EXPECT_EQ(points->Next(1, nullptr, &fetched), E_POINTER);
    ASSERT_EQ(points->Next(1, got, nullptr), S_OK);
    got[0]->Release();

    EXPECT_EQ(points->Reset(), S_OK);
    EXPECT_EQ(points->Skip(1), S_OK);
    EXPECT_EQ(points->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(points->Reset(), S_OK);
    EXPECT_EQ(points->Skip(2), S_FALSE);
    EXPECT_EQ(points->Next(1, got, &fetched), S_FALSE);

    // A clone starts where the original stands.
    EXPECT_EQ(points->Reset(), S_OK);
    ComPtr<IEnumConnectionPoints> clone;
    ASSERT_EQ(points->Clone(clone.put()), S_OK);
    ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0], point.get());
    got[0]->Release();
    EXPECT_EQ(points->Skip(1), S_OK);
    ComPtr<IEnumConnectionPoints> atEnd;
    ASSERT_EQ(points->Clone(atEnd.put()), S_OK);
    EXPECT_EQ(atEnd->Next(1, got, &fetched), S_FALSE);

    EXPECT_EQ(identityOf(points.get()), static_cast<IUnknown*>(points.get()));
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(points->QueryInterface(IID_IEnumConnections, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);

    points.reset();
    another.reset();
    clone.reset();
    atEnd.reset();
    EXPECT_EQ(countOf(pad.get()), before);
}

TEST(Advise, CookiesStartAt400AndAFreedSlotIsReusedUnderANewCookie)
{
    ComApartment com;
    RecordingSink a, b, c, d;
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);

    EXPECT_EQ(advise(point.get(), &a), 400u);
    EXPECT_EQ(advise(point.get(), &b), 401u);
    EXPECT_EQ(advise(point.get(), &c), 402u);
    EXPECT_EQ(a.refCount, 1u);

    EXPECT_EQ(point->Unadvise(401), S_OK);
    EXPECT_EQ(b.refCount, 0u);
    EXPECT_EQ(point->Unadvise(401), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Unadvise(0), E_INVALIDARG);
    EXPECT_EQ(point->Unadvise(403), CONNECT_E_NOCONNECTION);

    // Slot 1 is taken again, under a cookie never handed out before.
    EXPECT_EQ(advise(point.get(), &d), 403u);
    EXPECT_EQ(listedCookies(point.get()), (Cookies{400, 403, 402}));
    EXPECT_EQ(embedded(point.get())->connectionCount, 3);

    pad.reset();
    point.reset();
    EXPECT_EQ(a.refCount + c.refCount + d.refCount, 0u);
}

TEST(Advise, RefusedSinksLeaveTheCookieAndTheTableAlone)
{
    ComApartment com;
    RefusingSink withoutEvents(E_NOINTERFACE), failing(E_ACCESSDENIED), answeringNull(S_OK);
    RecordingSink sink;
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);

    DWORD cookie = 0xC0FFEE;
    EXPECT_EQ(point->Advise(&withoutEvents, &cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point->Advise(&failing, &cookie), E_ACCESSDENIED);
    EXPECT_EQ(point->Advise(&answeringNull, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0xC0FFEEu);
    EXPECT_EQ(withoutEvents.refCount + failing.refCount + answeringNull.refCount, 0u);

    IEnumConnections* none = reinterpret_cast<IEnumConnections*>(1);
    EXPECT_EQ(point->EnumConnections(&none), OLE_E_NOCONNECTION);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(embedded(point.get())->connectionCount, 0);
    // No cookie was spent.
    EXPECT_EQ(advise(point.get(), &sink), 400u);
}

TEST(Advise, TheSeventeenthConnectionGrowsTheTableBySixteenSlots)
{
    ComApartment com;
    RecordingSink sinks[18];
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    EmbeddedPoint* table = embedded(point.get());
    EXPECT_EQ(table->slotCapacity, 16);

    for (int i = 0; i < 16; ++i)
        advise(point.get(), &sinks[i]);
    EXPECT_EQ(table->slotCapacity, 16);
    EXPECT_EQ(advise(point.get(), &sinks[16]), 416u);
    EXPECT_EQ(table->slotCapacity, 32);
    EXPECT_EQ(listedCookies(point.get()), cookieRange(400, 17));

    // A slot freed among the first sixteen is taken before any new one.
    EXPECT_EQ(point->Unadvise(403), S_OK);
    EXPECT_EQ(advise(point.get(), &sinks[17]), 417u);
    Cookies expected = cookieRange(400, 17);
    expected[3] = 417;
    EXPECT_EQ(listedCookies(point.get()), expected);
    EXPECT_EQ(table->slotCapacity, 32);
}

TEST(Advise, AWrappedCookieCounterSkipsZeroAndCookiesStillInUse)
{
    ComApartment com;
    RecordingSink sinks[7];
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    EmbeddedPoint* table = embedded(point.get());

    EXPECT_EQ(advise(point.get(), &sinks[0]), 400u);
    table->nextCookie = 0xFFFFFFFEu;
    EXPECT_EQ(advise(point.get(), &sinks[1]), 0xFFFFFFFEu);
    EXPECT_EQ(advise(point.get(), &sinks[2]), 0xFFFFFFFFu);
    EXPECT_EQ(advise(point.get(), &sinks[3]), 1u);
    EXPECT_EQ(advise(point.get(), &sinks[4]), 2u);
    // 0xFFFFFFFF, 1 and 2 are still in use, 0 is never a cookie.
    table->nextCookie = 0xFFFFFFFFu;
    EXPECT_EQ(advise(point.get(), &sinks[5]), 3u);
    table->nextCookie = 400;
    EXPECT_EQ(advise(point.get(), &sinks[6]), 401u);

    EXPECT_EQ(listedCookies(point.get()), (Cookies{400, 0xFFFFFFFEu, 0xFFFFFFFFu, 1, 2, 3, 401}));
    EXPECT_EQ(point->Unadvise(0xFFFFFFFFu), S_OK);
    EXPECT_EQ(point->Unadvise(1), S_OK);
    EXPECT_EQ(sinks[2].refCount + sinks[3].refCount, 0u);
    EXPECT_EQ(sinks[4].refCount, 1u);
}

TEST(Connections, ASnapshotIsFixedAndKeepsItsSinksAlive)
{
    ComApartment com;
    RecordingSink a, b, late;
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    advise(point.get(), &a);
    advise(point.get(), &b);

    ULONG before = countOf(pad.get());
    ComPtr<IEnumConnections> snapshot;
    ASSERT_EQ(point->EnumConnections(snapshot.put()), S_OK);
    EXPECT_EQ(countOf(pad.get()), before + 1);
    EXPECT_EQ(a.refCount, 2u);
    EXPECT_EQ(point->Unadvise(401), S_OK);
    EXPECT_EQ(b.refCount, 1u);
    advise(point.get(), &late);

    CONNECTDATA entries[3] = {};
    ULONG fetched = 0;
    ASSERT_EQ(snapshot->Next(3, entries, &fetched), S_OK);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(cookiesOf(entries, fetched), (Cookies{400, 401}));
    EXPECT_EQ(entries[0].pUnk, static_cast<ISignaturePadEvents*>(&a));
    EXPECT_EQ(entries[1].pUnk, static_cast<ISignaturePadEvents*>(&b));
    EXPECT_EQ(b.refCount, 2u);
    releaseAll(entries, fetched);

    snapshot.reset();
    EXPECT_EQ(b.refCount, 0u);
    EXPECT_EQ(a.refCount, 1u);
    EXPECT_EQ(late.refCount, 1u);
    EXPECT_EQ(countOf(pad.get()), before);
}

TEST(Connections, TheSnapshotFollowsTheRulesOfNextSkipAndClone)
{
    ComApartment com;
    RecordingSink sinks[3];
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    for (RecordingSink& sink : sinks)
        advise(point.get(), &sink);
    ComPtr<IEnumConnections> snapshot;
    ASSERT_EQ(point->EnumConnections(snapshot.put()), S_OK);

    CONNECTDATA entries[4] = {};
    ULONG fetched = 99;
    EXPECT_EQ(snapshot->Next(0, entries, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(snapshot->Next(1, nullptr, &fetched), E_POINTER);
    ASSERT_EQ(snapshot->Next(1, entries, nullptr), S_OK);
    EXPECT_EQ(entries[0].dwCookie, 400u);
    releaseAll(entries, 1);

    // A clone taken after one Next starts at the second entry; the original stays.
    ComPtr<IEnumConnections> clone;
    ASSERT_EQ(snapshot->Clone(clone.put()), S_OK);
    ASSERT_EQ(clone->Next(4, entries, &fetched), S_OK);
    EXPECT_EQ(cookiesOf(entries, fetched), (Cookies{401, 402}));
    releaseAll(entries, fetched);
    ASSERT_EQ(snapshot->Next(1, entries, nullptr), S_OK);
    EXPECT_EQ(entries[0].dwCookie, 401u);
    releaseAll(entries, 1);

    // Three asked with one left: one, then none.
    ASSERT_EQ(snapshot->Next(3, entries, &fetched), S_OK);
    EXPECT_EQ(cookiesOf(entries, fetched), (Cookies{402}));
    releaseAll(entries, fetched);
    EXPECT_EQ(snapshot->Next(3, entries, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    // Without a fetched-count pointer any count is accepted.
    EXPECT_EQ(snapshot->Next(2, entries, nullptr), S_FALSE);
    EXPECT_EQ(snapshot->Reset(), S_OK);
    ASSERT_EQ(snapshot->Next(2, entries, nullptr), S_OK);
    EXPECT_EQ(cookiesOf(entries, 2), (Cookies{400, 401}));
    releaseAll(entries, 2);

    EXPECT_EQ(snapshot->Reset(), S_OK);
    EXPECT_EQ(snapshot->Skip(3), S_OK);
    EXPECT_EQ(snapshot->Next(1, entries, &fetched), S_FALSE);
    EXPECT_EQ(snapshot->Reset(), S_OK);
    EXPECT_EQ(snapshot->Skip(4), S_FALSE);
    EXPECT_EQ(snapshot->Next(1, entries, &fetched), S_FALSE);

    EXPECT_EQ(identityOf(snapshot.get()), static_cast<IUnknown*>(snapshot.get()));
    void* refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(snapshot->QueryInterface(IID_IEnumConnectionPoints, &refused), E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);

    snapshot.reset();
    clone.reset();
    for (RecordingSink& sink : sinks)
        EXPECT_EQ(sink.refCount, 1u);
}

TEST(Lifetime, EnumeratorsKeepTheObjectAliveUntilTheyAreReleased)
{
    ComApartment com;
    RecordingSink sink;
    ComPtr<IEnumConnections> snapshot;
    ComPtr<IEnumConnectionPoints> points;
    {
        ComPtr<ISignaturePad> pad = control().create();
        ComPtr<IConnectionPointContainer> container = containerOf(pad.get());
        ComPtr<IConnectionPoint> point = pointOf(pad.get());
        ASSERT_TRUE(point);
        advise(point.get(), &sink);
        ASSERT_EQ(point->EnumConnections(snapshot.put()), S_OK);
        ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
    }
    // The host holds nothing more; the table and the snapshot still hold the sink.
    EXPECT_EQ(sink.refCount, 2u);
    snapshot.reset();
    EXPECT_EQ(sink.refCount, 1u);

    IConnectionPoint* point = nullptr;
    ASSERT_EQ(points->Next(1, &point, nullptr), S_OK);
    EXPECT_EQ(listedCookies(point), (Cookies{400}));
    point->Release();
    // The last reference goes with the enumerator: the object releases its sink.
    points.reset();
    EXPECT_EQ(sink.refCount, 0u);
}

TEST(Exports, TheFourClassesAreExportedUnderTheirCppNames)
{
#if defined(__GNUC__)
    ComApartment com;
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPointContainer> container = containerOf(pad.get());
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    RecordingSink sink;
    advise(point.get(), &sink);
    ComPtr<IEnumConnections> snapshot;
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(point->EnumConnections(snapshot.put()), S_OK);
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);

    // An exported virtual table starts, after the offset to the top and the
    // type information, with the functions every object of the class points at.
    auto exportedTable = [](const char* name) -> const void* {
        auto* table = reinterpret_cast<const void* const*>(GetProcAddress(control().module(), name));
        return table ? table + 2 : nullptr;
    };
    auto tableOf = [](IUnknown* object) { return *reinterpret_cast<const void* const*>(object); };
    EXPECT_EQ(tableOf(container.get()), exportedTable("_ZTVN12SignaturePad26_IConnectionPointContainerE"));
    EXPECT_EQ(tableOf(point.get()), exportedTable("_ZTVN12SignaturePad17_IConnectionPointE"));
    EXPECT_EQ(tableOf(points.get()), exportedTable("_ZTVN12SignaturePad22_IEnumConnectionPointsE"));
    EXPECT_EQ(tableOf(snapshot.get()), exportedTable("_ZTVN12SignaturePad22_IEnumerateConnectionsE"));

    for (const char* name : {
             "_ZN12SignaturePad26_IConnectionPointContainerC1EPS_",
             "_ZN12SignaturePad26_IConnectionPointContainerC1ERKS0_",
             "_ZN12SignaturePad26_IConnectionPointContainerD1Ev",
             "_ZN12SignaturePad26_IConnectionPointContaineraSERKS0_",
             "_ZN12SignaturePad26_IConnectionPointContainer12fire_PenDownEll",
             "_ZN12SignaturePad26_IConnectionPointContainer13fire_PenPointEllf",
             "_ZN12SignaturePad26_IConnectionPointContainer10fire_PenUpEll",
             "_ZN12SignaturePad26_IConnectionPointContainer19fire_OptionSelectedEl",
             "_ZN12SignaturePad17_IConnectionPointC1EPS_",
             "_ZN12SignaturePad17_IConnectionPointC1ERKS0_",
             "_ZN12SignaturePad17_IConnectionPointD1Ev",
             "_ZN12SignaturePad17_IConnectionPointaSERKS0_",
             "_ZN12SignaturePad17_IConnectionPoint6AdviseEP8IUnknownPm",
             "_ZN12SignaturePad22_IEnumConnectionPointsC1EPS_PP16IConnectionPointll",
             "_ZN12SignaturePad22_IEnumConnectionPointsC1ERKS0_",
             "_ZN12SignaturePad22_IEnumConnectionPointsD1Ev",
             "_ZN12SignaturePad22_IEnumConnectionPointsaSERKS0_",
             "_ZN12SignaturePad22_IEnumerateConnectionsC1EP8IUnknownmPK14tagCONNECTDATAm",
             "_ZN12SignaturePad22_IEnumerateConnectionsC1ERKS0_",
             "_ZN12SignaturePad22_IEnumerateConnectionsD1Ev",
             "_ZN12SignaturePad22_IEnumerateConnectionsaSERKS0_",
         }) {
        EXPECT_NE(GetProcAddress(control().module(), name), nullptr) << name;
    }
#else
    GTEST_SKIP() << "the exported names are checked for the Itanium C++ names only";
#endif
}

TEST(Copies, ACopiedConnectionPointHoldsReferencesOfItsOwnOnTheSameSinks)
{
    ComApartment com;
    RecordingSink a, b;
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    advise(point.get(), &a);
    advise(point.get(), &b);
    {
        EmbeddedPoint copy(*embedded(point.get()));
        EXPECT_EQ(copy.owner, embedded(point.get())->owner);
        EXPECT_EQ(a.refCount, 2u);
        EXPECT_EQ(listedCookies(&copy), (Cookies{400, 401}));
        EXPECT_EQ(copy.Unadvise(400), S_OK);
        EXPECT_EQ(a.refCount, 1u);
        EXPECT_EQ(listedCookies(point.get()), (Cookies{400, 401}));
        RecordingSink added;
        EXPECT_EQ(advise(&copy, &added), 402u);
        EXPECT_EQ(copy.Unadvise(402), S_OK);
    }
    EXPECT_EQ(a.refCount, 1u);
    EXPECT_EQ(b.refCount, 1u);
}

TEST(Copies, AnAssignedConnectionPointTakesTheOthersTableAndKeepsItsOwner)
{
    ComApartment com;
    RecordingSink a, b, c;
    ComPtr<ISignaturePad> first = control().create();
    ComPtr<ISignaturePad> second = control().create();
    ComPtr<IConnectionPoint> firstPoint = pointOf(first.get());
    ComPtr<IConnectionPoint> secondPoint = pointOf(second.get());
    ASSERT_TRUE(firstPoint && secondPoint);
    advise(firstPoint.get(), &a);
    advise(secondPoint.get(), &b);
    advise(secondPoint.get(), &c);

    *embedded(firstPoint.get()) = *embedded(secondPoint.get());
    EXPECT_EQ(a.refCount, 0u);
    EXPECT_EQ(b.refCount, 2u);
    EXPECT_EQ(listedCookies(firstPoint.get()), (Cookies{400, 401}));
    EXPECT_EQ(identityOf(firstPoint.get()), identityOf(first.get()));

    EmbeddedPoint& same = *embedded(secondPoint.get());
    same = *embedded(secondPoint.get());
    EXPECT_EQ(listedCookies(secondPoint.get()), (Cookies{400, 401}));
    EXPECT_EQ(c.refCount, 2u);

    first.reset();
    firstPoint.reset();
    EXPECT_EQ(b.refCount, 1u);
}

TEST(Copies, EnumeratorCopiesListTheSameItemsWithReferencesOfTheirOwn)
{
    ComApartment com;
    RecordingSink sinks[6];
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPointContainer> container = containerOf(pad.get());
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    for (RecordingSink& sink : sinks)
        advise(point.get(), &sink);
    ComPtr<IEnumConnections> snapshot;
    ASSERT_EQ(point->EnumConnections(snapshot.put()), S_OK);
    auto* original = static_cast<SignaturePad::_IEnumerateConnections*>(snapshot.get());
    EXPECT_EQ(original->Skip(1), S_OK);
    {
        SignaturePad::_IEnumerateConnections copy(*original);
        EXPECT_EQ(copy.refCount, 0u);
        EXPECT_EQ(copy.owner, original->owner);
        EXPECT_EQ(copy.cursor, 1u);
        EXPECT_EQ(cookiesOf(copy.entries, copy.itemCount), cookieRange(400, 6));
        EXPECT_EQ(sinks[0].refCount, 3u);

        // Free records (cookie 0) are passed over.
        CONNECTDATA records[3] = {{&sinks[0], 0}, {&sinks[2], 402}, {nullptr, 0}};
        SignaturePad::_IEnumerateConnections single(original->owner, 3, records, 0);
        copy = single;
        EXPECT_EQ(cookiesOf(copy.entries, copy.itemCount), (Cookies{402}));
        EXPECT_EQ(copy.cursor, 0u);
        EXPECT_EQ(sinks[0].refCount, 2u);
        EXPECT_EQ(sinks[2].refCount, 4u);
    }
    for (RecordingSink& sink : sinks)
        EXPECT_EQ(sink.refCount, 2u);

    ULONG before = countOf(pad.get());
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
    auto* listing = static_cast<SignaturePad::_IEnumConnectionPoints*>(points.get());
    {
        SignaturePad::_IEnumConnectionPoints copy(*listing);
        EXPECT_EQ(copy.itemCount, 1);
        EXPECT_EQ(copy.items[0], point.get());
        // The point the copy lists holds a reference on the object.
        EXPECT_EQ(countOf(pad.get()), before + 3);
        SignaturePad::_IEnumConnectionPoints empty(copy.owner, nullptr, 0, 0);
        copy = empty;
        EXPECT_EQ(copy.itemCount, 0);
        EXPECT_EQ(countOf(pad.get()), before + 2);
    }
    points.reset();
    EXPECT_EQ(countOf(pad.get()), before);
}

TEST(Copies, ACopiedContainerServesTheSameObjectAndAssignmentKeepsTheOwner)
{
    ComApartment com;
    ComPtr<ISignaturePad> first = control().create();
    ComPtr<ISignaturePad> second = control().create();
    ComPtr<IConnectionPointContainer> firstContainer = containerOf(first.get());
    ComPtr<IConnectionPointContainer> secondContainer = containerOf(second.get());
    ASSERT_TRUE(firstContainer && secondContainer);

    EmbeddedContainer copy(*embedded(firstContainer.get()));
    ComPtr<IConnectionPoint> found;
    ASSERT_EQ(copy.FindConnectionPoint(IID_ISignaturePadEvents, found.put()), S_OK);
    EXPECT_EQ(found.get(), pointOf(first.get()).get());

    SignaturePad* owner = copy.owner;
    copy = *embedded(secondContainer.get());
    EXPECT_EQ(copy.owner, owner);
}

TEST(OutOfMemory, AnAdviseThatCannotGrowTheTableLeavesItAsItWas)
{
    ComApartment com;
    RecordingSink sinks[17];
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    for (int i = 0; i < 16; ++i)
        advise(point.get(), &sinks[i]);
    EmbeddedPoint* table = embedded(point.get());
    {
        AllocationFailure failure(control().module());
        ASSERT_TRUE(failure.installed());
        failure.failAfter(0);
        DWORD cookie = 0xC0FFEE;
        EXPECT_EQ(point->Advise(&sinks[16], &cookie), E_OUTOFMEMORY);
        EXPECT_EQ(failure.failures(), 1);
        EXPECT_EQ(cookie, 0u);
    }
    EXPECT_EQ(sinks[16].refCount, 0u);
    EXPECT_EQ(table->slotCapacity, 16);
    EXPECT_EQ(table->connectionCount, 16);
    EXPECT_EQ(listedCookies(point.get()), cookieRange(400, 16));
    // No cookie was spent; with memory the table grows.
    EXPECT_EQ(advise(point.get(), &sinks[16]), 416u);
    EXPECT_EQ(table->slotCapacity, 32);
}

TEST(OutOfMemory, ASnapshotThatCannotBeMadeGivesNothingAndEventsReachNoOne)
{
    ComApartment com;
    // More sinks than a snapshot keeps in itself: its entries take a second allocation.
    RecordingSink sinks[5];
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPointContainer> container = containerOf(pad.get());
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    for (RecordingSink& sink : sinks)
        advise(point.get(), &sink);
    ULONG before = countOf(pad.get());
    {
        AllocationFailure failure(control().module());
        ASSERT_TRUE(failure.installed());
        for (int allocation : {0, 1}) {
            failure.failAfter(allocation);
            IEnumConnections* snapshot = reinterpret_cast<IEnumConnections*>(1);
            EXPECT_EQ(point->EnumConnections(&snapshot), E_OUTOFMEMORY) << allocation;
            EXPECT_EQ(snapshot, nullptr);
        }
        EXPECT_EQ(failure.failures(), 2);
        failure.failAfter(0);
        embedded(container.get())->fire_PenDown(1, 2);
        EXPECT_EQ(failure.failures(), 3);
    }
    for (RecordingSink& sink : sinks) {
        EXPECT_EQ(sink.refCount, 1u);
        EXPECT_EQ(sink.count(), 0u);
    }
    EXPECT_EQ(countOf(pad.get()), before);
    EXPECT_EQ(listedCookies(point.get()), cookieRange(400, 5));
    EXPECT_EQ(pad->FireOption(4), 0);
    EXPECT_EQ(sinks[4].events(), std::vector<RecordingSink::Event>{optionSelected(4)});
}

TEST(OutOfMemory, EnumeratorsAndClonesThatCannotBeMadeGiveNothing)
{
    ComApartment com;
    RecordingSink sink;
    ComPtr<ISignaturePad> pad = control().create();
    ComPtr<IConnectionPointContainer> container = containerOf(pad.get());
    ComPtr<IConnectionPoint> point = pointOf(pad.get());
    ASSERT_TRUE(point);
    advise(point.get(), &sink);
    ComPtr<IEnumConnections> snapshot;
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(point->EnumConnections(snapshot.put()), S_OK);
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
    ULONG before = countOf(pad.get());

    AllocationFailure failure(control().module());
    ASSERT_TRUE(failure.installed());
    for (int allocation : {0, 1}) {
        failure.failAfter(allocation);
        IEnumConnectionPoints* refused = reinterpret_cast<IEnumConnectionPoints*>(1);
        EXPECT_EQ(container->EnumConnectionPoints(&refused), E_OUTOFMEMORY) << allocation;
        EXPECT_EQ(refused, nullptr);
        failure.failAfter(allocation);
        refused = reinterpret_cast<IEnumConnectionPoints*>(1);
        EXPECT_EQ(points->Clone(&refused), E_OUTOFMEMORY) << allocation;
        EXPECT_EQ(refused, nullptr);
    }
    failure.failAfter(0);
    IEnumConnections* clone = reinterpret_cast<IEnumConnections*>(1);
    EXPECT_EQ(snapshot->Clone(&clone), E_OUTOFMEMORY);
    EXPECT_EQ(clone, nullptr);
    EXPECT_EQ(failure.failures(), 5);

    EXPECT_EQ(countOf(pad.get()), before);
    EXPECT_EQ(sink.refCount, 2u);
}
