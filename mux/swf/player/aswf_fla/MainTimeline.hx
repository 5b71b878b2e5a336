package aswf_fla;

import flash.display.Bitmap;
import flash.display.BitmapData;
import flash.display.DisplayObject;
import flash.display.MovieClip;
import flash.display.Shape;
import flash.display.Sprite;
import flash.events.Event;
import flash.events.MouseEvent;
import flash.geom.Matrix;
import flash.geom.Point;
import flash.geom.Rectangle;

// The player carried inside every SWF recording of quality levels 0 to 3.
// The recorder places each frame's changed blocks off stage (BLOCKS.md beside
// this file); this timeline class copies them into one persistent picture
// and shows a playback bar (play, pause, drag to seek, progress).
//
// It is bound to the main timeline by the file's SymbolClass tag, so the
// compiler's own start-up code never runs: only native player classes and
// plain language constructs are used here.
class MainTimeline extends MovieClip {
	static inline var BACKGROUND = 0x0A0A0A;
	static inline var BLOCK = 16;
	static inline var LOSSLESS_MARK = 177;
	static inline var BAR_HEIGHT = 22;

	var picW = 0;
	var picH = 0;
	var picture:BitmapData;
	var view:Bitmap;
	var lastFrame = 0;
	var lastX = -1.0;
	var playing = true;
	var seeking = false;
	var seekedOnce = false;
	var startMs = 0;

	var bar:Sprite;
	var button:Sprite;
	var track:Sprite;
	var progress:Shape;
	var handle:Shape;
	var trackX = 30.0;
	var trackW = 100.0;

	public static function main() {}

	public function new() {
		super();
		addEventListener(Event.EXIT_FRAME, onExitFrame);
	}

	static function now():Int {
		return untyped __global__["flash.utils.getTimer"]();
	}

	static function log(text:String) {
		untyped __global__["trace"]("quillet-player: " + text);
	}

	function onExitFrame(_:Event) {
		if (picture == null && !setUp())
			return;
		var frame = currentFrame;
		if (frame != lastFrame) {
			if (frame == lastFrame + 1)
				applyShapes(false);
			else
				applyShapes(true);
			lastFrame = frame;
		}
		// A recording plays once and waits on its last frame.
		if (playing && !seeking && frame >= totalFrames) {
			stop();
			playing = false;
			drawButton();
			if (!seekedOnce)
				log("played " + totalFrames + " frames in " + (now() - startMs) + " ms");
		}
		keepOrder();
		drawProgress();
	}

	// The picture size comes from the size marker's line colour.
	function setUp():Bool {
		var marker = findShape(15, -1);
		if (marker == null)
			return false;
		var probe = new BitmapData(24, 2, false, 0);
		probe.draw(marker, new Matrix(1, 0, 0, 1, 16.5, 0.5));
		var c = probe.getPixel(8, 0);
		probe.dispose();
		picW = c & 0xFFF;
		picH = (c >> 12) & 0xFFF;
		if (picW < BLOCK || picH < BLOCK) {
			log("no size marker");
			return false;
		}
		picture = new BitmapData(picW, picH, false, BACKGROUND);
		view = new Bitmap(picture);
		addChildAt(view, 0);
		buildBar();
		startMs = now();
		log("picture " + picW + "x" + picH + ", " + totalFrames + " frames");
		return true;
	}

	function findShape(x:Float, y:Float):Shape {
		for (i in 0...numChildren) {
			var s:Shape = untyped __as__(getChildAt(i), Shape);
			if (s != null && s.x == x && s.y == y)
				return s;
		}
		return null;
	}

	// Data shapes lie right of the stage on row 0, in the order they were
	// placed, which is also the order of their x positions. After a seek the
	// display list holds exactly the shapes since the last key frame, and the
	// key frame's blocks cover the whole picture, so replaying them all
	// rebuilds it.
	function applyShapes(rebuild:Bool) {
		if (rebuild) {
			picture.fillRect(picture.rect, BACKGROUND);
			lastX = -1;
		}
		var left = picW + 2;
		var n = numChildren;
		var i = 0;
		while (i < n) {
			var s:Shape = untyped __as__(getChildAt(i), Shape);
			i++;
			if (s == null || s.y != 0 || s.x < left || s.x <= lastX)
				continue;
			var used = applyLossless(s);
			if (used > 0)
				lastX = s.x + used - 1;
			else
				lastX = s.x;
		}
	}

	// One frame's lossless shape and, when it has JPEG blocks, the mosaic
	// shape after it. Returns how far right the frame's data reaches.
	function applyLossless(s:Shape):Float {
		var probe = new BitmapData(8, 2, false, 0);
		probe.draw(s, new Matrix(1, 0, 0, 1, 0.5, 0.5));
		var c = probe.getPixel(4, 0);
		probe.dispose();
		if ((c & 0xFF) != LOSSLESS_MARK)
			return 0;
		var u = ((c >> 16) & 0xFF) * 8;
		var v = (c >> 8) & 0xFF;
		if (u < BLOCK)
			return 0;
		var h = Std.int(Math.ceil(s.height)) + 4;
		var data = new BitmapData(u + 4, h, false, 0);
		data.draw(s);
		var nl = data.getPixel(2, 2);
		var nj = data.getPixel(3, 2);
		var total = nl + nj;
		var headerRows = Std.int((2 + total + u - 1) / u);
		var columns = Std.int(u / BLOCK);
		var positions = new Array<Int>();
		for (k in 0...total) {
			var p = 2 + k;
			positions.push(data.getPixel(2 + p % u, 2 + Std.int(p / u)));
		}
		var area = new Rectangle(0, 0, BLOCK, BLOCK);
		var at = new Point(0, 0);
		for (k in 0...nl) {
			area.x = 2 + (k % columns) * BLOCK;
			area.y = 2 + headerRows + Std.int(k / columns) * BLOCK;
			at.x = (positions[k] >> 12) * BLOCK;
			at.y = (positions[k] & 0xFFF) * BLOCK;
			picture.copyPixels(data, area, at);
		}
		data.dispose();
		var reach = u + 4.0;
		if (nj > 0 && v > 0) {
			var mosaic = findShape(s.x + u + 4, 0);
			if (mosaic == null) {
				log("mosaic missing at " + (s.x + u + 4));
				return reach;
			}
			var rows = Std.int((nj + v - 1) / v);
			var pixels = new BitmapData(v * BLOCK, rows * BLOCK, false, 0);
			pixels.draw(mosaic);
			for (k in 0...nj) {
				area.x = (k % v) * BLOCK;
				area.y = Std.int(k / v) * BLOCK;
				var p = positions[nl + k];
				at.x = (p >> 12) * BLOCK;
				at.y = (p & 0xFFF) * BLOCK;
				picture.copyPixels(pixels, area, at);
			}
			pixels.dispose();
			reach += v * BLOCK;
		}
		return reach;
	}

	// The picture under everything the timeline shows (the cursor), the bar
	// over everything.
	function keepOrder() {
		if (getChildIndex(view) != 0)
			setChildIndex(view, 0);
		if (getChildIndex(bar) != numChildren - 1)
			setChildIndex(bar, numChildren - 1);
	}

	function buildBar() {
		bar = new Sprite();
		bar.y = picH - BAR_HEIGHT;
		bar.graphics.beginFill(0x202020, 0.75);
		bar.graphics.drawRect(0, 0, picW, BAR_HEIGHT);
		bar.graphics.endFill();
		button = new Sprite();
		button.buttonMode = true;
		bar.addChild(button);
		track = new Sprite();
		trackX = 30;
		trackW = picW - trackX - 10;
		track.x = trackX;
		track.graphics.beginFill(0x000000, 0.01);
		track.graphics.drawRect(0, 0, trackW, BAR_HEIGHT);
		track.graphics.endFill();
		track.graphics.beginFill(0x606060);
		track.graphics.drawRect(0, BAR_HEIGHT / 2 - 2, trackW, 4);
		track.graphics.endFill();
		progress = new Shape();
		track.addChild(progress);
		handle = new Shape();
		handle.graphics.beginFill(0xE0E0E0);
		handle.graphics.drawRect(-3, 3, 6, BAR_HEIGHT - 6);
		handle.graphics.endFill();
		track.addChild(handle);
		bar.addChild(track);
		addChild(bar);
		drawButton();
		button.addEventListener(MouseEvent.CLICK, onButton);
		track.addEventListener(MouseEvent.MOUSE_DOWN, onTrackDown);
		stage.addEventListener(MouseEvent.MOUSE_MOVE, onMouseMove);
		stage.addEventListener(MouseEvent.MOUSE_UP, onMouseUp);
	}

	function drawButton() {
		var g = button.graphics;
		g.clear();
		g.beginFill(0x000000, 0.01);
		g.drawRect(0, 0, 26, BAR_HEIGHT);
		g.endFill();
		g.beginFill(0xE0E0E0);
		if (playing) {
			g.drawRect(8, 5, 4, BAR_HEIGHT - 10);
			g.drawRect(15, 5, 4, BAR_HEIGHT - 10);
		} else {
			g.moveTo(9, 5);
			g.lineTo(20, BAR_HEIGHT / 2);
			g.lineTo(9, BAR_HEIGHT - 5);
			g.lineTo(9, 5);
		}
		g.endFill();
	}

	function drawProgress() {
		var last = totalFrames > 1 ? totalFrames - 1 : 1;
		var w = trackW * (currentFrame - 1) / last;
		progress.graphics.clear();
		progress.graphics.beginFill(0x4A90D9);
		progress.graphics.drawRect(0, BAR_HEIGHT / 2 - 2, w, 4);
		progress.graphics.endFill();
		handle.x = w;
	}

	function onButton(_:MouseEvent) {
		playing = !playing;
		if (playing) {
			if (currentFrame >= totalFrames)
				gotoAndPlay(1);
			else
				play();
		} else {
			stop();
		}
		drawButton();
	}

	function onTrackDown(e:MouseEvent) {
		seeking = true;
		stop();
		seekTo(track.mouseX);
	}

	function onMouseMove(e:MouseEvent) {
		if (seeking)
			seekTo(track.mouseX);
	}

	function onMouseUp(e:MouseEvent) {
		if (!seeking)
			return;
		seeking = false;
		if (playing)
			play();
	}

	function seekTo(x:Float) {
		seekedOnce = true;
		var ratio = x / trackW;
		if (ratio < 0)
			ratio = 0;
		if (ratio > 1)
			ratio = 1;
		var target = 1 + Math.round(ratio * (totalFrames - 1));
		if (target != currentFrame)
			gotoAndStop(target);
		// The new frame's shapes are on the display list now.
		applyShapes(true);
		lastFrame = currentFrame;
		drawProgress();
	}
}
