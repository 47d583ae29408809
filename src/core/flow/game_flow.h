#pragma once
// The game-state machine: one step per timer tick, the clock and pause, the title, the stage
// intro, the start of games and stages, the play step of each mode and the demonstration.
#include <cstdint>

namespace kdv {

struct Game;

void GameStep(Game& game);
int32_t GetClock(const Game& game);
int32_t FramesPerSecond(const Game& game);
void TogglePause(Game& game);
int32_t TakeLastKey(Game& game);

void EnterTitle(Game& game);
// A player's game is on: play, its stage intro or its tally (not the demo, title or editor).
bool InGame(const Game& game);
// Back to the title from wherever the game was, when something else had the picture (a network
// game): the mode the demo kept comes back, as when the demo is left, and a pause is let go, so
// that the next game plays.
void BackToTitle(Game& game);
void TitleFrame(Game& game);
void StartGame(Game& game);
void StageIntroFrame(Game& game);
void StartStage(Game& game);
void SetUpStage(Game& game, bool twoPlayers);
void PlayStepOnePlayer(Game& game);
void PlayStepTwoPlayers(Game& game);
// The world update and drawing of one play frame, in its fixed order: the frame is also the
// collision map, so the order is a rule of the game.
void WorldUpdate(Game& game, bool twoPlayers);
void StartDemo(Game& game);
void DemoFrame(Game& game);

}  // namespace kdv
