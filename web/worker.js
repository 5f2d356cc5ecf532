// The page's Worker: the package's worker entry, bundled with the page.
import 'moltavex/worker';
