var kept = [3, "c"];
function main() {
  sendToFront("v", [1, [2]]);
  sendToFront("o", {a: 1, b: [true, null, undefined, NaN], c: {d: 2.5, e: "x y"}, f: -7});
  sendToFront("u", undefined);
  sendToFront("n", null);
  sendToFront("i", 42);
  sendToFront("f", 0.1);
  sendToFront("s", "日本");
  sendToFront("d", new Date(2024, 0, 2, 3, 4, 5));
  sendToFront("ms", new Date(2024, 11, 31, 23, 59, 58, 7));
  sendToFront("kept");
  sendToFront(kept);
  sendToFront("a b", []);
  sendToFront("h", {});
}
