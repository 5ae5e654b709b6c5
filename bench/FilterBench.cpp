// Cost of one filter decision for typical allowed and refused requests.
#include "guard/RequestFilter.h"

#include <benchmark/benchmark.h>

using namespace orvalis;

namespace {

struct Fixture {
    Fixture() {
        rules.MainPageList.Publish(guard::BuildMainPageList());
        rules.HostSuffixList.Publish(guard::BuildHostSuffixList());
        location.Set("http://www.velmora.co.kr/profile/view.asp?id=42");
    }
    guard::TSiteRules rules;
    guard::TLocationCopy location;
    app::TDisplayState display;
    guard::TRequestFilter filter{rules, location, display};
};

void Judge(benchmark::State& state, const char* host, const char* document) {
    Fixture f;
    proxy::THTTPProxyServerContext context;
    context.Headers.Add(std::string("Host: ") + host);
    context.Headers.Add("User-Agent: Mozilla/4.0 (compatible)");
    context.Headers.Add("Referer: http://www.velmora.co.kr/profile/view.asp?id=42");
    context.Document = document;
    for (auto _ : state) {
        context.Blocked = false;
        f.filter.FirewallHTTPBeforeCommand(context);
        benchmark::DoNotOptimize(context.Blocked);
        if (state.iterations() % 100000 == 0) {
            f.display.ClearLog(); // keep the log from growing without end
        }
    }
}

void BM_AllowedSiteHost(benchmark::State& s) {
    Judge(s, "img.velmora.com", "/photo/a.jpg");
}
void BM_AllowedAddressBlock(benchmark::State& s) {
    Judge(s, "198.19.254.7", "/m/a.jpg");
}
void BM_RefusedForeignHost(benchmark::State& s) {
    Judge(s, "ads.foreign.example", "/b.gif?x=1");
}

} // namespace

BENCHMARK(BM_AllowedSiteHost);
BENCHMARK(BM_AllowedAddressBlock);
BENCHMARK(BM_RefusedForeignHost);
