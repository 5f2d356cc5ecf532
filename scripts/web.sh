#!/usr/bin/env bash
# Builds the JavaScript side: the WebAssembly module (the wasm preset, with
# Debian's emscripten), the npm package's tarball
# build-web/moltavex-VERSION.tgz and the page build-web/site/ (web/,
# bundled with esbuild from the tarball as a user's app would be).
#   scripts/web.sh [--test]
# --test also builds the native program (demo preset) and runs the
# package's tests against it (node --test js/test/), compiles an app's use
# of its types (js/test/types/, TypeScript) and runs the page's test in a
# headless Debian Chromium (web/test/page.mjs), which keeps a screenshot in
# build-web/page.png. Installs what it needs: Debian packages with
# apt-get, the build and test tools from npm into build-web/tools (pinned
# here, no lock file).
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$root"
testing=0
case "${1:-}" in
  --test) testing=1 ;;
  "") ;;
  *) echo "usage: scripts/web.sh [--test]" >&2; exit 2 ;;
esac

esbuild_version=0.28.2
playwright_version=1.65.2
typescript_version=5.9.3

need_xxhash
packages=(emscripten cmake make)
# Node and npm may come from elsewhere than Debian (a newer Node): only
# missing commands are installed.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
((testing)) && packages+=(chromium g++)
need_packages "${packages[@]}"
# Debian's emcc runs under a Node that does not search Debian's modules.
export NODE_PATH=/usr/share/nodejs

echo "web.sh: building moltavex.wasm (wasm preset)"
cmake --preset wasm >/dev/null
cmake --build --preset wasm -j2 >/dev/null
cp build-wasm/bindings/wasm/moltavex.wasm js/moltavex.wasm
cp build-wasm/bindings/wasm/header.js js/lib/header.js
cp LICENSE js/LICENSE

mkdir -p build-web
version=$(node -p "require('./js/package.json').version")
rm -f "build-web/moltavex-$version.tgz"
(cd js && npm pack --silent --pack-destination "$root/build-web" >/dev/null)
tarball=build-web/moltavex-$version.tgz
[ -f "$tarball" ] || { echo "web.sh: npm pack made no $tarball" >&2; exit 1; }

# Both always: npm would remove one installed earlier when given the other.
tools=(esbuild@$esbuild_version playwright-core@$playwright_version typescript@$typescript_version)
mkdir -p build-web/tools
[ -f build-web/tools/package.json ] || echo '{ "private": true }' >build-web/tools/package.json
(cd build-web/tools && npm install --silent --no-save --no-package-lock --no-audit --no-fund "${tools[@]}")

echo "web.sh: building the page"
app=build-web/app
rm -rf "$app" build-web/site
mkdir -p "$app" build-web/site
cp web/app.js web/worker.js "$app/"
echo '{ "private": true, "type": "module" }' >"$app/package.json"
(cd "$app" && npm install --silent --no-package-lock --no-audit --no-fund "$root/$tarball")
build-web/tools/node_modules/.bin/esbuild "$app/app.js" "$app/worker.js" --bundle --format=esm \
  --minify --log-level=error --outdir=build-web/site
cp web/index.html web/style.css build-web/site/
cp "$app/node_modules/moltavex/moltavex.wasm" build-web/site/
printf 'web.sh: moltavex.wasm %s bytes, %s %s bytes, site in build-web/site/\n' \
  "$(wc -c <build-web/site/moltavex.wasm)" "$tarball" "$(wc -c <"$tarball")"

((testing)) || exit 0
echo "web.sh: building the native program (demo preset)"
cmake --preset demo >/dev/null
cmake --build --preset demo --target moltavex_program -j2 >/dev/null
export MOLTAVEX_PROGRAM=$root/build-demo/moltavex
echo "web.sh: package tests"
node --test js/test/*.test.js
cp js/test/types/use.ts js/test/types/tsconfig.json "$app/"
build-web/tools/node_modules/.bin/tsc -p "$app"
echo "web.sh: the types compile for an app"
echo "web.sh: page test in Chromium"
node web/test/page.mjs build-web/site build-web/page.png build-web/tools
